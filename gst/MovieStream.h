// A movie read through the module's host commands, as rvo decode reads it:
// from a local file, or from bytes a byte source serves, registered for the
// module under a name no file has, in the folder where its stills are looked for.
#pragma once

#include <memory>
#include <string>

#include "platform/ByteSource.h"
#include "platform/Types.h"

class CHostReader;

class CMovieStream {
public:
    // strFolder: where a still named without a folder is looked for (the
    // movie's own folder when it is a local file); strName names the movie in
    // messages. Throws a ToolFailure with the tool's message when the movie
    // cannot be opened (not an RVO file, damaged, unfinished).
    CMovieStream(std::shared_ptr<CByteSource> pSource, const std::string& strFolder, const std::string& strName);
    // The movie in a local file, read by the module's own handles as rvo decode reads it.
    explicit CMovieStream(const std::string& strFile);
    ~CMovieStream();
    CMovieStream(const CMovieStream&) = delete;
    CMovieStream& operator=(const CMovieStream&) = delete;

    int Width() const { return m_nWidth; }
    int Height() const { return m_nHeight; }
    long long Frames() const { return m_nFrames; }
    // Frame k into packed rows of Width() pixels; "" or the tool's message
    // ("movie.rvo: frame 5 does not decode (truncated)").
    std::string ReadFrame(long long k, DWORD* pPixels);

private:
    void Open();
    std::string Message(const std::string& strFailure) const;

    std::string m_strPath;   // the file, or the name the source is registered under
    bool m_bRegistered = false;
    std::string m_strName;
    std::unique_ptr<CHostReader> m_pReader;
    int m_nWidth = 0;
    int m_nHeight = 0;
    long long m_nFrames = 0;
};
