// Which parsed trees the writer cannot give back unchanged, by design.
#ifndef VORLIX_FUZZ_XML_ROUND_TRIP_H
#define VORLIX_FUZZ_XML_ROUND_TRIP_H

// True when writing the tree and parsing the output may give another tree:
// - an element holding character data beside other nodes: the writer puts
//   such a child on its own indented line, and that indentation reads back
//   as part of the character data;
// - a processing instruction below the top level: read back inside an
//   element, it turns that element into the processing instruction;
// - an attribute value that ends in an odd run of backslashes (possible only
//   unquoted): written quoted, its last backslash escapes the closing quote.
template <class Tag>
bool MayNotRoundTrip(const Tag& tag, bool bTop = true) {
    if (!bTop && tag.m_nTagType == XMLTAG_PI) return true;
    for (int i = 0; i < tag.m_aryOption.GetSize(); ++i) {
        const auto& value = tag.m_aryOption[i].m_strValue;
        int n = value.GetLength(), run = 0;
        while (run < n && value[n - 1 - run] == '\\') ++run;
        if (run % 2) return true;
    }
    int inlineCount = 0;
    const int n = tag.m_arySubTag.GetSize();
    for (int i = 0; i < n; ++i) {
        const Tag& child = tag.m_arySubTag[i];
        if (child.m_nTagType == XMLTAG_TEXT || child.m_nTagType == XMLTAG_CDATA) ++inlineCount;
        if (MayNotRoundTrip(child, false)) return true;
    }
    return inlineCount != 0 && inlineCount != n;
}

#endif
