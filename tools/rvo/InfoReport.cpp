// The info report of a file, and the tool's JSON layout.
#include "tools/rvo/InfoReport.h"

#include "platform/CString.h"

Json EntryReport(const RvoIndexEntry& e) {
    return Json{{"kind", e.m_nKind},          {"name", ToUtf8(e.m_strName.Str())}, {"startFrame", e.m_nStartFrame},
                {"lastFrame", e.m_nLastFrame}, {"flags", e.m_dwFlags},             {"blobOffset", e.m_dwBlobOffset},
                {"blobSize", e.m_dwIndexBlobBytes}};
}

Json InfoReport(CRvoFile& f) {
    const CRvoHeader& h = f.Header();
    Json j;
    j["magic"] = std::string(h.m_szMagic, sizeof h.m_szMagic);
    j["mode"] = h.m_nMode;
    j["width"] = h.m_nWidth;
    j["height"] = h.m_nHeight;
    j["entryCount"] = h.m_nEntryCount;
    j["frameCount"] = h.m_nFrameCount;
    j["indexOffset"] = h.m_dwIndexOffset;
    j["sizeTableBytes"] = h.m_dwSizeTableBytes;
    j["sizeTableOffset"] = ((unsigned long long)h.m_dwSizeTableOffsetHigh << 32) | h.m_dwSizeTableOffsetLow;
    Json entries = Json::array();
    for (int i = 0; i < f.GetEntryCount(); i++) entries.push_back(EntryReport(*f.GetEntry(i)));
    j["entries"] = entries;
    const RvoRecordTypes t = f.CountRecordTypes();
    if (t.bPacked)
        j["recordTypes"] = Json{{"PackedRaw", t.nRaw},
                                {"PackedAlphaRuns", t.nAlphaRuns},
                                {"PackedColourRuns", t.nColourRuns},
                                {"unreadable", t.nUnreadable}};
    return j;
}

std::string RenderJson(const Json& j) {
    if (j.is_object()) {
        std::string s = "{";
        bool bFirst = true;
        for (const auto& [key, value] : j.items()) {
            s += (bFirst ? "" : ", ") + Json(key).dump() + ": " + RenderJson(value);
            bFirst = false;
        }
        return s + "}";
    }
    if (j.is_array() && !j.empty() && j.front().is_object()) {
        std::string s = "[";
        for (size_t i = 0; i < j.size(); i++) s += (i ? ",\n  " : "\n  ") + RenderJson(j[i]);
        return s + "\n]";
    }
    if (j.is_array()) {
        std::string s = "[";
        for (size_t i = 0; i < j.size(); i++) s += (i ? ", " : "") + RenderJson(j[i]);
        return s + "]";
    }
    // Text that is not UTF-8 (a name read from a damaged file) is replaced, not refused.
    return j.dump(-1, ' ', false, Json::error_handler_t::replace);
}
