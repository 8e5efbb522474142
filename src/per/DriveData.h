// What is known about the partitions of one physical disk: its ordered PartitionRecord list, built once
// by LoadLayout, and the volume and drive letter lookups every walk shares.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "frame/UniqueHandle.h"
#include "per/LayoutEntry.h"
#include "per/PartitionRecord.h"

namespace PER {

class DriveLetterMap;

class DriveData {
public:
    virtual ~DriveData();
    DriveData(const DriveData&) = delete;
    DriveData& operator=(const DriveData&) = delete;

    // Queries the volume at the record's letter (":\" appended to it) and stores its file system, label
    // ("NONAME" when empty) and read-only state. The walks pass the record's own fileSystem and label.
    virtual bool ReadVolumeInfo(PartitionRecord& record, std::wstring& fileSystem, std::wstring& label);
    virtual bool LoadLayout() = 0;
    virtual std::wstring GetDiskId() const = 0;
    virtual int GetPartitionStyle() const = 0;
    // The drive letter whose DOS device is the target of "\Device\Harddisk<disk>\Partition<number>".
    virtual bool FindDriveLetter(std::uint32_t partitionNumber, wchar_t& letter);

    std::uint32_t GetDiskNumber() const { return diskNumber_; }
    // The device's handle, borrowed: the DriveDevice that owns this data closes it after the data goes.
    kvph::Handle GetHandle() const { return handle_.get(); }
    std::size_t GetPartitionCount() const { return partitions_.size(); }
    // The record at a 0-based position; null past the end.
    const PartitionRecord* GetPartition(std::size_t position) const;
    // The disk size in bytes as the device reports it now; 0 (after a trace) when it cannot be read.
    std::int64_t GetDiskSize() const;

    // Shares one letter map among the disks of an enumeration. Without one, the disk builds its own on
    // its first lookup. The map must outlive this object.
    void UseLetterMap(DriveLetterMap* letters) { sharedLetters_ = letters; }

protected:
    DriveData();
    DriveData(std::uint32_t diskNumber, kvph::BorrowedHandle handle);

    void ClearRecords() { partitions_.clear(); }
    // Appends a record for a layout entry: number, size, info, kind and, when asked, the drive letter.
    PartitionRecord& AppendEntryRecord(const LayoutEntry& entry, PartitionKind kind, bool withLetter);
    // Appends an unallocated stretch from byte `from` to byte `to`.
    PartitionRecord& AppendGapRecord(std::int64_t from, std::int64_t to);
    PartitionRecord& AppendRecord(std::unique_ptr<PartitionRecord> record);

private:
    DriveLetterMap& letters();

    std::vector<std::unique_ptr<PartitionRecord>> partitions_;
    kvph::BorrowedHandle handle_;
    std::uint32_t diskNumber_ = 0;
    DriveLetterMap* sharedLetters_ = nullptr;
    std::unique_ptr<DriveLetterMap> ownLetters_;
};

}  // namespace PER
