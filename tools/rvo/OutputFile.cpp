// The output step of rvo recover and rvo repair.
#include "tools/rvo/OutputFile.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

#include "tools/rvo/System.h"
#include "tools/rvo/ToolSupport.h"

namespace fs = std::filesystem;

std::string SuffixedPath(const std::string& input, const std::string& strSuffix) {
    const fs::path p = FsPath(input);
    fs::path out = p;
    out.replace_filename(FsPath(PathText(p.stem()) + strSuffix + PathText(p.extension())));
    return PathText(out);
}

COutputFile::COutputFile(const std::string& input, const OutputTarget& t, const std::string& strDefaultSuffix)
    : m_strInput(input), m_bInPlace(t.bInPlace) {
    std::error_code ec;
    m_strOut = t.bInPlace ? input : t.strOutput.empty() ? SuffixedPath(input, strDefaultSuffix) : t.strOutput;
    if (t.bInPlace && !t.bNoBackup) m_strBackup = input + ".bak";
    if (!t.bInPlace) {
        // The input named as the output is refused first: --force does not make it an output.
        if (fs::exists(FsPath(m_strOut), ec)) {
            if (fs::equivalent(FsPath(m_strOut), FsPath(input), ec))
                FailFile(m_strOut, "is the input; give --in-place to replace it");
            if (!t.bForce) FailFile(m_strOut, "already exists; give --force to replace it");
        }
    } else if (!m_strBackup.empty() && fs::exists(FsPath(m_strBackup), ec) && !t.bForce) {
        FailFile(m_strBackup, "already exists; give --force to replace it, or --no-backup");
    }
    m_strTemp = m_strOut + ".tmp-" + std::to_string(ProcessId());
}

COutputFile::~COutputFile() {
    if (!m_bCommitted) RemoveTemp();
}

void COutputFile::RemoveTemp() {
    std::error_code ec;
    fs::remove(FsPath(m_strTemp), ec);
}

void COutputFile::Fail(const std::string& strVerb, const std::string& why, DWORD dwError) {
    RemoveTemp();
    FailFile(m_strInput, "cannot be " + strVerb + " (" + why + "); it is unchanged", dwError);
}

void COutputFile::Commit() {
    // The new file is on the disk before it takes a name: a crash after the
    // rename must not leave an empty file where the movie was.
    FILE* f = OpenFile(m_strTemp, "r+b");
    const bool bFlushed = f && FlushToDisk(f);
    const std::string strFlushError = bFlushed ? "" : LastSystemError();
    if (f) std::fclose(f);
    if (!bFlushed) {
        RemoveTemp();
        FailFile(m_strOut, "cannot be written (" + strFlushError + ")" + (m_bInPlace ? "; it is unchanged" : ""));
    }
    std::error_code ec;
    if (!m_strBackup.empty()) {
        // The original stays under FILE.bak (a second name for the same file, or a copy)
        // before the new file takes its name.
        fs::remove(FsPath(m_strBackup), ec);
        fs::create_hard_link(FsPath(m_strInput), FsPath(m_strBackup), ec);
        if (ec) fs::copy_file(FsPath(m_strInput), FsPath(m_strBackup), fs::copy_options::overwrite_existing, ec);
        if (ec) {
            RemoveTemp();
            FailFile(m_strBackup, "cannot be written (" + ec.message() + "); " + m_strInput + " is unchanged");
        }
    }
    fs::rename(FsPath(m_strTemp), FsPath(m_strOut), ec);
    if (ec) {
        const std::string why = ec.message();
        RemoveTemp();
        FailFile(m_strOut, "cannot be replaced (" + why + ")" + (m_bInPlace ? "; it is unchanged" : ""));
    }
    m_bCommitted = true;
}
