// Keyword files of the metadata toolkit: text lines that each pair a keyword
// with a value.
//
//   # a comment line
//   Pds_MapDirection="TrueNorth"
//   Scs_SceneID = ALPSMN038862710
//
// A line is a key, an equals sign and a value; blanks around either are
// dropped.  A value written in double quotes loses its quotes and keeps what
// is between them exactly, blanks included.  Blank lines, comment lines and
// lines without an equals sign are skipped; a key given twice keeps its last
// value.  Keys are compared exactly (case counts).
#pragma once

#include <map>
#include <string>

#include "ceosalosj_export.h"

// The file handle of host/tfio.h, declared here so that this header stands
// on its own in an installed tree.
struct TfioFile;

namespace tkmd {

class CEOSALOSJ_API KeywordValueFile {
public:
    /// Longest keyword file read; anything larger is not a keyword file.
    static constexpr long kMaxFileSize = 1 << 20;

    KeywordValueFile() = default;
    /// Closes the file if it is still open.
    virtual ~KeywordValueFile();
    /// A copy carries the path and the keys, not the open file: a file handle
    /// has one owner.
    KeywordValueFile(const KeywordValueFile& other);
    KeywordValueFile& operator=(const KeywordValueFile& other);

    /// Opens path for reading (closing a file opened before).  Throws a
    /// TeskarLog::Exception when the file cannot be opened.
    virtual void Open(const std::string& path);
    /// Parses the open file into the key map (which it replaces) and closes the
    /// file.  False, with a printed report, when no file is open or it cannot
    /// be read; the map then keeps what it held.
    virtual bool Read();
    /// Closes the file; false when none was open.
    virtual bool Close();

    bool HaveKey(const std::string& key) const;
    /// The key's value, or an empty string when the key is absent.
    std::string GetStringValue(const std::string& key) const;

    const std::string& Path() const { return path_; }
    bool IsOpen() const { return handle_ != nullptr; }
    const std::map<std::string, std::string>& Values() const { return values_; }

    /// Parses keyword text into map entries (added to, or replacing, those in
    /// values).
    static void Parse(const std::string& text, std::map<std::string, std::string>* values);

private:
    TfioFile* handle_ = nullptr;
    std::string path_;
    std::map<std::string, std::string> values_;
};

}  // namespace tkmd
