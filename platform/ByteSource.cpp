// The registry of byte sources; on POSIX platform/posix/RawFile.cpp opens handles over them.
#include "platform/ByteSource.h"

#include <map>
#include <mutex>

#include "platform/LastError.h"

namespace {

std::mutex g_lock;
std::map<std::string, std::shared_ptr<CByteSource>>& Sources() {
    static std::map<std::string, std::shared_ptr<CByteSource>> s;
    return s;
}

}   // namespace

BOOL RegisterByteSource(const std::string& strPath, std::shared_ptr<CByteSource> pSource) {
    if (strPath.empty() || !pSource) return Fail(ERROR_INVALID_PARAMETER);
    std::lock_guard<std::mutex> lock(g_lock);
    if (!Sources().emplace(strPath, std::move(pSource)).second) return Fail(ERROR_SHARING_VIOLATION);
    return TRUE;
}

void UnregisterByteSource(const std::string& strPath) {
    std::lock_guard<std::mutex> lock(g_lock);
    Sources().erase(strPath);
}

std::shared_ptr<CByteSource> FindByteSource(const std::string& strPath) {
    std::lock_guard<std::mutex> lock(g_lock);
    auto it = Sources().find(strPath);
    return it == Sources().end() ? nullptr : it->second;
}
