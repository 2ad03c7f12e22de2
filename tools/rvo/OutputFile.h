// Where a command that writes a movie anew from another (rvo recover, rvo
// repair) puts its result, and how the result gets there: the output name,
// the refusal to replace an existing file unasked, a temporary file beside
// the destination, the backup of an input replaced in place, and the rename
// that makes the result appear only whole.
#pragma once

#include <string>

#include "platform/Types.h"

// Where the result goes. By default the input's name with a command's suffix
// before its extension (clip.rvo: clip-recovered.rvo); strOutput when given;
// the input itself with bInPlace, the original kept as FILE.bak unless
// bNoBackup. An existing destination (or FILE.bak) is replaced only with bForce.
struct OutputTarget {
    std::string strOutput;
    bool bInPlace = false;
    bool bNoBackup = false;
    bool bForce = false;
};

// FILE with strSuffix before its extension ("-recovered": clip-recovered.rvo).
std::string SuffixedPath(const std::string& input, const std::string& strSuffix);

// One result on its way to its destination. The constructor settles the
// destination and refuses one it may not replace; the caller writes the
// result to TempPath(), then Commit() keeps the backup and renames the
// temporary file onto the destination. A result not committed is removed.
// Every failure is a ToolFailure, and leaves the input and an existing
// destination as they were.
class COutputFile {
public:
    COutputFile(const std::string& input, const OutputTarget& t, const std::string& strDefaultSuffix);
    ~COutputFile();
    COutputFile(const COutputFile&) = delete;
    COutputFile& operator=(const COutputFile&) = delete;

    const std::string& Path() const { return m_strOut; }
    const std::string& TempPath() const { return m_strTemp; }
    // FILE.bak when the original is kept there, else empty.
    const std::string& BackupPath() const { return m_strBackup; }
    // Removes the temporary file (a result that failed) and throws a ToolFailure
    // "<input>: cannot be <strVerb> (<why>); it is unchanged".
    [[noreturn]] void Fail(const std::string& strVerb, const std::string& why, DWORD dwError = 0);
    void Commit();

private:
    void RemoveTemp();

    std::string m_strInput;
    std::string m_strOut;
    std::string m_strTemp;
    std::string m_strBackup;
    bool m_bInPlace = false;
    bool m_bCommitted = false;
};
