#include "PerTestSupport.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include <unistd.h>

namespace kvph::test {

namespace {

// ctest runs each test case in a process of its own, several at once: each process builds its images in
// a folder of its own, so that two cases never rewrite the same image under each other.
// The folder goes with the process.
class ImageFolder {
public:
    ImageFolder() : path_(std::filesystem::path(KVPH_TEST_TMP) / std::to_string(::getpid())) {}
    ~ImageFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

std::string imagePath(const std::string& name) {
    static const ImageFolder folder;
    std::filesystem::create_directories(folder.path());
    return (folder.path() / name).string();
}

bool makeSparse(const std::string& path, std::uint64_t sizeBytes) {
    std::filesystem::remove(path);
    std::ofstream(path, std::ios::binary).close();
    std::error_code error;
    std::filesystem::resize_file(path, sizeBytes, error);
    return !error;
}

bool run(const std::string& command) {
    return std::system(command.c_str()) == 0;
}

}  // namespace

std::string DiskImages::scratchPath(const std::string& name) {
    return imagePath(name);
}

bool DiskImages::toolsPresent() {
    return run("command -v sfdisk >/dev/null 2>&1 || test -x /usr/sbin/sfdisk") &&
           run("command -v sgdisk >/dev/null 2>&1 || test -x /usr/sbin/sgdisk");
}

void DiskImages::requireTools() {
    if (toolsPresent()) {
        return;
    }
    if (std::getenv("CI") != nullptr) {
        FAIL() << "sfdisk and sgdisk are needed, and CI is set";
    }
    GTEST_SKIP() << "sfdisk and sgdisk are needed";
}

std::string DiskImages::withSfdisk(const std::string& name, std::uint64_t sizeBytes,
                                   const std::string& script) {
    const std::string path = imagePath(name);
    const std::string scriptPath = path + ".sfdisk";
    std::ofstream(scriptPath) << script;
    if (!makeSparse(path, sizeBytes) ||
        !run("PATH=$PATH:/usr/sbin sfdisk --quiet --no-reread --no-tell-kernel '" + path + "' < '" +
             scriptPath + "' >/dev/null 2>&1")) {
        return {};
    }
    return path;
}

std::string DiskImages::withSgdisk(const std::string& name, std::uint64_t sizeBytes,
                                   const std::string& arguments) {
    const std::string path = imagePath(name);
    if (!makeSparse(path, sizeBytes) ||
        !run("PATH=$PATH:/usr/sbin sgdisk " + arguments + " '" + path + "' >/dev/null 2>&1")) {
        return {};
    }
    return path;
}

std::string DiskImages::withBootRecords(const std::string& name,
                                        const std::map<std::uint32_t, Slots>& records) {
    const std::string path = imagePath(name);
    makeSparse(path, 1ull << 30);
    std::fstream image(path, std::ios::binary | std::ios::in | std::ios::out);
    for (const auto& [sector, slots] : records) {
        std::string bytes(512, '\0');
        for (std::size_t i = 0; i < slots.size(); ++i) {
            bytes[446 + 16 * i + 4] = static_cast<char>(slots[i][0]);
            std::memcpy(&bytes[446 + 16 * i + 8], &slots[i][1], 8);  // first and count, little-endian
        }
        bytes[510] = '\x55';
        bytes[511] = '\xAA';
        image.seekp(static_cast<std::streamoff>(sector) * 512);
        image.write(bytes.data(), 512);
    }
    return path;
}

bool DiskImages::zeroSector(const std::string& path, std::uint64_t sector) {
    std::fstream file(path, std::ios::binary | std::ios::in | std::ios::out);
    file.seekp(static_cast<std::streamoff>(sector * 512));
    const std::string zeros(512, '\0');
    file.write(zeros.data(), static_cast<std::streamsize>(zeros.size()));
    return static_cast<bool>(file);
}

}  // namespace kvph::test
