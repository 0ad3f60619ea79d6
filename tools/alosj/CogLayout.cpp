#include "tools/alosj/CogLayout.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>

#include "tools/alosj/Cli.h"

namespace alosj {

namespace {

constexpr uint16_t kNewSubfileType = 254;
constexpr uint16_t kTileOffsets = 324;
constexpr uint16_t kTileByteCounts = 325;
constexpr uint16_t kLong = 4;
constexpr uint16_t kLong8 = 16;

/// What follows the TIFF header in GDAL's COGs: the layout it promises.
const std::string kGhostText =
    "LAYOUT=IFDS_BEFORE_DATA\nBLOCK_ORDER=ROW_MAJOR\nBLOCK_LEADER=SIZE_AS_UINT4\n"
    "BLOCK_TRAILER=LAST_4_BYTES_REPEATED\nKNOWN_INCOMPATIBLE_EDITION=NO\n ";

size_t TypeBytes(uint16_t type) {
    switch (type) {
        case 1: case 2: case 6: case 7: return 1;   // BYTE, ASCII, SBYTE, UNDEFINED
        case 3: case 8: return 2;                    // SHORT, SSHORT
        case 4: case 9: case 11: case 13: return 4;  // LONG, SLONG, FLOAT, IFD
        case 5: case 10: case 12: case 16: case 17: case 18: return 8;  // RATIONAL, ..., LONG8, SLONG8, IFD8
        default: return 0;
    }
}

struct Entry {
    uint16_t tag = 0;
    uint16_t type = 0;
    uint64_t count = 0;
    std::vector<unsigned char> value;  // little-endian, as in the file
};

/// One level: its tags but the tiles' places, and where its tiles lie in its file.
struct Level {
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file{nullptr, &std::fclose};
    std::vector<Entry> entries;
    std::vector<uint64_t> offsets, counts;
};

struct Failing {
    const std::string& name;
    [[noreturn]] void operator()(const std::string& what) const {
        throw Failure(kExitFailure, name + ": cannot lay out the COG: " + what);
    }
};

void ReadAt(std::FILE* file, uint64_t at, void* into, size_t bytes, const Failing& fail) {
    if (fseeko(file, static_cast<off_t>(at), SEEK_SET) != 0 || std::fread(into, 1, bytes, file) != bytes)
        fail("a level's file is shorter than its directory says");
}

template <class T>
T ReadValue(std::FILE* file, uint64_t at, const Failing& fail) {
    T value;
    ReadAt(file, at, &value, sizeof value, fail);
    return value;
}

std::vector<uint64_t> Numbers(const Entry& entry, const Failing& fail) {
    std::vector<uint64_t> numbers(entry.count);
    const size_t size = TypeBytes(entry.type);
    for (size_t i = 0; i < numbers.size(); ++i) {
        const unsigned char* at = entry.value.data() + i * size;
        if (entry.type == 3) {
            uint16_t v;
            std::memcpy(&v, at, 2);
            numbers[i] = v;
        } else if (entry.type == kLong) {
            uint32_t v;
            std::memcpy(&v, at, 4);
            numbers[i] = v;
        } else if (entry.type == kLong8) {
            std::memcpy(&numbers[i], at, 8);
        } else {
            fail("tile places of an unexpected type");
        }
    }
    return numbers;
}

Level ReadLevel(const std::string& path, bool& big, bool first, const Failing& fail) {
    Level level;
    level.file.reset(std::fopen(path.c_str(), "rb"));
    if (!level.file) fail("cannot open " + path);
    std::FILE* file = level.file.get();
    unsigned char magic[4];
    ReadAt(file, 0, magic, 4, fail);
    const uint16_t one = 1;
    if (*reinterpret_cast<const unsigned char*>(&one) != 1 || magic[0] != 'I' || magic[1] != 'I')
        fail("levels must be little-endian, on a little-endian machine");
    const bool isBig = magic[2] == 0x2B;
    if (!isBig && magic[2] != 0x2A) fail(path + " is not a TIFF file");
    if (!first && isBig != big) fail("levels mix classic TIFF and BigTIFF");
    big = isBig;
    const uint64_t ifd = big ? ReadValue<uint64_t>(file, 8, fail) : ReadValue<uint32_t>(file, 4, fail);
    const uint64_t n = big ? ReadValue<uint64_t>(file, ifd, fail) : ReadValue<uint16_t>(file, ifd, fail);
    const size_t entryBytes = big ? 20 : 12, inlineBytes = big ? 8 : 4;
    for (uint64_t i = 0; i < n; ++i) {
        const uint64_t at = ifd + (big ? 8 : 2) + i * entryBytes;
        Entry entry;
        entry.tag = ReadValue<uint16_t>(file, at, fail);
        entry.type = ReadValue<uint16_t>(file, at + 2, fail);
        entry.count = big ? ReadValue<uint64_t>(file, at + 4, fail) : ReadValue<uint32_t>(file, at + 4, fail);
        const size_t size = TypeBytes(entry.type);
        if (size == 0 || entry.count > (uint64_t{1} << 32) / size) fail("a tag of an unknown type or size");
        entry.value.resize(static_cast<size_t>(entry.count) * size);
        const uint64_t valueAt = at + (big ? 12 : 8);
        if (entry.value.size() <= inlineBytes)
            ReadAt(file, valueAt, entry.value.data(), entry.value.size(), fail);
        else
            ReadAt(file, big ? ReadValue<uint64_t>(file, valueAt, fail) : ReadValue<uint32_t>(file, valueAt, fail),
                   entry.value.data(), entry.value.size(), fail);
        if (entry.tag == kTileOffsets) {
            level.offsets = Numbers(entry, fail);
        } else if (entry.tag == kTileByteCounts) {
            level.counts = Numbers(entry, fail);
        } else if (entry.tag != kNewSubfileType) {
            level.entries.push_back(std::move(entry));
        }
    }
    if (level.offsets.empty() || level.offsets.size() != level.counts.size()) fail(path + " is not tiled");
    return level;
}

Entry NumbersEntry(uint16_t tag, bool big, const std::vector<uint64_t>& numbers) {
    Entry entry{tag, big ? kLong8 : kLong, numbers.size(), {}};
    entry.value.resize(numbers.size() * (big ? 8 : 4));
    for (size_t i = 0; i < numbers.size(); ++i) {
        if (big) {
            std::memcpy(entry.value.data() + i * 8, &numbers[i], 8);
        } else {
            const uint32_t v = static_cast<uint32_t>(numbers[i]);
            std::memcpy(entry.value.data() + i * 4, &v, 4);
        }
    }
    return entry;
}

class Output {
public:
    Output(const std::string& path, const Failing& fail) : file_(std::fopen(path.c_str(), "wb")), fail_(fail) {
        if (!file_) fail("cannot create " + path);
        std::setvbuf(file_, nullptr, _IOFBF, 1 << 20);
    }
    ~Output() {
        if (file_) std::fclose(file_);
    }
    void Put(const void* data, size_t bytes) {
        if (std::fwrite(data, 1, bytes, file_) != bytes) fail_("cannot write (disk full?)");
        at_ += bytes;
    }
    template <class T>
    void PutValue(T value) {
        Put(&value, sizeof value);
    }
    void PadTo(uint64_t at) {
        static const unsigned char zeros[16] = {};
        while (at_ < at) Put(zeros, static_cast<size_t>(std::min<uint64_t>(16, at - at_)));
    }
    uint64_t at() const { return at_; }
    void Close() {
        const int closed = std::fclose(file_);
        file_ = nullptr;
        if (closed != 0) fail_("cannot finish writing (disk full?)");
    }

private:
    std::FILE* file_;
    const Failing& fail_;
    uint64_t at_ = 0;
};

}  // namespace

void LayOutCog(const std::vector<std::string>& paths, const std::string& path, const std::string& name) {
    const Failing fail{name};
    bool big = false;
    std::vector<Level> levels;
    for (size_t i = 0; i < paths.size(); ++i) levels.push_back(ReadLevel(paths[i], big, i == 0, fail));
    const size_t entryBytes = big ? 20 : 12, inlineBytes = big ? 8 : 4;

    // Where everything goes: the header, the ghost text, each IFD with the
    // values that do not fit in it, then the tiles, smallest overview first.
    char sizeLine[64];
    std::snprintf(sizeLine, sizeof sizeLine, "GDAL_STRUCTURAL_METADATA_SIZE=%06zu bytes\n", kGhostText.size());
    uint64_t at = (big ? 16 : 8) + std::strlen(sizeLine) + kGhostText.size();
    at += at % 2;
    std::vector<uint64_t> ifdAt(levels.size());
    std::vector<std::vector<uint64_t>> tileAt(levels.size());
    for (size_t i = 0; i < levels.size(); ++i) {
        Level& level = levels[i];
        if (i > 0) level.entries.push_back({kNewSubfileType, kLong, 1, {1, 0, 0, 0}});  // a reduced image
        // Placeholders of the tiles' places, filled in below.
        level.entries.push_back(NumbersEntry(kTileOffsets, big, level.offsets));
        level.entries.push_back(NumbersEntry(kTileByteCounts, big, level.counts));
        std::sort(level.entries.begin(), level.entries.end(),
                  [](const Entry& a, const Entry& b) { return a.tag < b.tag; });
        ifdAt[i] = at;
        at += (big ? 16 : 6) + level.entries.size() * entryBytes;
        for (const Entry& entry : level.entries)
            if (entry.value.size() > inlineBytes) at += entry.value.size() + entry.value.size() % 2;
    }
    for (size_t i = levels.size(); i-- > 0;) {
        const Level& level = levels[i];
        for (uint64_t count : level.counts) {
            if (count == 0) {
                tileAt[i].push_back(0);
                continue;
            }
            tileAt[i].push_back(at + 4);
            at += 4 + count + 4;
        }
    }
    if (!big && at > UINT32_MAX) fail("more than 4 GB in a classic TIFF");
    for (size_t i = 0; i < levels.size(); ++i)
        for (Entry& entry : levels[i].entries)
            if (entry.tag == kTileOffsets) entry = NumbersEntry(kTileOffsets, big, tileAt[i]);

    Output out(path, fail);
    out.Put(big ? "II\x2B\0\x08\0\0\0" : "II\x2A\0", big ? 8 : 4);
    if (big)
        out.PutValue<uint64_t>(ifdAt[0]);
    else
        out.PutValue<uint32_t>(static_cast<uint32_t>(ifdAt[0]));
    out.Put(sizeLine, std::strlen(sizeLine));
    out.Put(kGhostText.data(), kGhostText.size());
    for (size_t i = 0; i < levels.size(); ++i) {
        out.PadTo(ifdAt[i]);
        const std::vector<Entry>& entries = levels[i].entries;
        if (big)
            out.PutValue<uint64_t>(entries.size());
        else
            out.PutValue<uint16_t>(static_cast<uint16_t>(entries.size()));
        uint64_t valueAt = ifdAt[i] + (big ? 16 : 6) + entries.size() * entryBytes;
        for (const Entry& entry : entries) {
            out.PutValue(entry.tag);
            out.PutValue(entry.type);
            if (big)
                out.PutValue<uint64_t>(entry.count);
            else
                out.PutValue<uint32_t>(static_cast<uint32_t>(entry.count));
            if (entry.value.size() <= inlineBytes) {
                unsigned char inlined[8] = {};
                std::memcpy(inlined, entry.value.data(), entry.value.size());
                out.Put(inlined, inlineBytes);
            } else {
                if (big)
                    out.PutValue<uint64_t>(valueAt);
                else
                    out.PutValue<uint32_t>(static_cast<uint32_t>(valueAt));
                valueAt += entry.value.size() + entry.value.size() % 2;
            }
        }
        const uint64_t next = i + 1 < levels.size() ? ifdAt[i + 1] : 0;
        if (big)
            out.PutValue<uint64_t>(next);
        else
            out.PutValue<uint32_t>(static_cast<uint32_t>(next));
        for (const Entry& entry : entries)
            if (entry.value.size() > inlineBytes) {
                out.Put(entry.value.data(), entry.value.size());
                out.PadTo(out.at() + entry.value.size() % 2);
            }
    }
    std::vector<unsigned char> tile;
    for (size_t i = levels.size(); i-- > 0;) {
        const Level& level = levels[i];
        for (size_t t = 0; t < level.counts.size(); ++t) {
            const uint64_t count = level.counts[t];
            if (count == 0) continue;
            tile.assign(static_cast<size_t>(std::max<uint64_t>(count, 4)), 0);
            ReadAt(level.file.get(), level.offsets[t], tile.data(), static_cast<size_t>(count), fail);
            out.PutValue<uint32_t>(static_cast<uint32_t>(count));
            out.Put(tile.data(), static_cast<size_t>(count));
            out.Put(tile.data() + tile.size() - 4, 4);
        }
    }
    out.Close();
}

}  // namespace alosj
