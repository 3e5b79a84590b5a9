// A generated book for the XML benchmarks: a document-style text in which
// most bytes are character data, the opposite of the data-oriented catalog.
//
// <book> holds a title and chapters; a chapter holds a title, a comment and
// sections; a section holds a title and paragraphs of 300 to 1500
// characters, now and then a <pre> with a CDATA section of code. Paragraphs
// are wrapped at about 90 columns, each continuation line indented with tabs
// one level deeper than the <p>, so that nearly every text node crosses
// lines. Inside the text run <b>, <em>, <sup> footnote marks and
// <link href="..."> elements (whose words may wrap too), the five predefined
// entities, and a few words outside ASCII. Lines end in CR LF.
//
// The text is the same on every run and platform: the words come from a
// fixed table, chosen by a 32-bit xorshift generator with a fixed seed.
#ifndef VORLIX_BENCH_XML_BOOK_H
#define VORLIX_BENCH_XML_BOOK_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

struct BookStats {
    long nElements = 0;     // every element, <book> included
    std::size_t nText = 0;  // bytes of character data and CDATA content
};

class BookGenerator {
public:
    explicit BookGenerator(std::string& out) : m_out(out) {}

    // Appends the book to the string, stopping after the section that
    // brings it to nTarget bytes.
    BookStats Generate(std::size_t nTarget) {
        std::size_t nStart = m_out.size();
        Markup("<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n");
        Markup("<book id=\"vorlix-bench\" lang=\"en\">\r\n");
        ++m_stats.nElements;
        Element(1, "title", nullptr, [this] { Text("A Generated Book on Parsing &amp; Printing"); });
        for (int nChapter = 1; m_out.size() - nStart < nTarget; ++nChapter) {
            char attrs[64];
            std::snprintf(attrs, sizeof attrs, " id=\"ch%d\" n=\"%d\"", nChapter, nChapter);
            Open(1, "chapter", attrs);
            Element(2, "title", nullptr, [this] { Words(Range(3, 8)); });
            Indent(2);
            std::snprintf(attrs, sizeof attrs, "<!-- chapter %d: revised for the %s edition -->\r\n", nChapter,
                          nChapter % 2 ? "second" : "third");
            Markup(attrs);
            int nSections = Range(4, 8);
            for (int nSection = 1; nSection <= nSections && m_out.size() - nStart < nTarget; ++nSection) {
                std::snprintf(attrs, sizeof attrs, " id=\"ch%d.%d\"", nChapter, nSection);
                Open(2, "section", attrs);
                Element(3, "title", nullptr, [this] { Words(Range(2, 7)); });
                for (int n = Range(4, 9); n > 0; --n) Paragraph(3);
                if (++m_nSections % 9 == 0) Code(3);
                Close(2, "section");
            }
            Close(1, "chapter");
        }
        Markup("</book>\r\n");
        return m_stats;
    }

private:
    static const int kWrap = 90;  // columns of text per line, after the indent

    std::uint32_t Next() {
        m_seed ^= m_seed << 13;
        m_seed ^= m_seed >> 17;
        m_seed ^= m_seed << 5;
        return m_seed;
    }
    int Range(int lo, int hi) { return lo + static_cast<int>(Next() % static_cast<std::uint32_t>(hi - lo + 1)); }
    bool Chance(int nPerThousand) { return static_cast<int>(Next() % 1000) < nPerThousand; }

    void Markup(const char* s) { m_out += s; }
    void Text(const char* s) { Text(s, std::strlen(s)); }
    void Text(const char* p, std::size_t n) {
        m_out.append(p, n);
        m_stats.nText += n;
    }
    void Indent(int nDepth) { m_out.append(static_cast<std::size_t>(nDepth), '\t'); }

    void Open(int nDepth, const char* name, const char* attrs) {
        Indent(nDepth);
        OpenTag(name, attrs);
        Markup("\r\n");
    }
    void Close(int nDepth, const char* name) {
        Indent(nDepth);
        CloseTag(name);
        Markup("\r\n");
    }
    void OpenTag(const char* name, const char* attrs) {
        m_out += '<';
        m_out += name;
        if (attrs) m_out += attrs;
        m_out += '>';
        ++m_stats.nElements;
    }
    void CloseTag(const char* name) {
        m_out += "</";
        m_out += name;
        m_out += '>';
    }
    template <class Body>
    void Element(int nDepth, const char* name, const char* attrs, Body&& body) {
        Indent(nDepth);
        OpenTag(name, attrs);
        body();
        CloseTag(name);
        Markup("\r\n");
    }

    const char* Word() {
        // Short words often, long ones now and then, as in prose.
        // clang-format off
        static const char* const kWords[] = {
            "the", "a", "of", "to", "and", "in", "is", "it", "that", "for", "on", "as", "with", "by", "at",
            "from", "this", "which", "be", "are", "or", "an", "not", "but", "each", "one", "its", "when",
            "parser", "document", "element", "attribute", "reader", "writer", "buffer", "character", "line",
            "value", "node", "tree", "string", "memory", "stream", "token", "entity", "section", "chapter",
            "reference", "encoding", "declaration", "processing", "instruction", "whitespace", "boundary",
            "allocation", "throughput", "measurement", "comparison", "implementation", "interpretation",
            "reads", "writes", "holds", "keeps", "returns", "follows", "describes", "shows", "builds", "moves",
            "quickly", "carefully", "usually", "rarely", "again", "later", "first", "last", "every", "other",
            "small", "large", "long", "short", "plain", "nested", "mixed", "empty", "whole", "same",
            "café", "naïve", "Zürich", "façade", "—", "résumé", "1998", "2024", "42", "3.14",
        };
        // clang-format on
        return kWords[Next() % (sizeof kWords / sizeof kWords[0])];
    }

    // Appends a piece of text that may not be broken, after a blank or a
    // line break as the wrap decides.
    void Piece(const std::string& piece, std::size_t nWidth, int nDepth, bool bFirst) {
        if (!bFirst) {
            if (m_nCol + 1 + nWidth > kWrap) {
                std::size_t n = m_out.size();
                m_out += "\r\n";
                Indent(nDepth + 1);
                m_stats.nText += m_out.size() - n;  // the break is part of the text
                m_nCol = 0;
            } else {
                Text(" ", 1);
                ++m_nCol;
            }
        }
        m_out += piece;
        m_nCol += nWidth;
    }

    // nWords words of plain text on the current line.
    void Words(int nWords) {
        for (int i = 0; i < nWords; ++i) {
            if (i) Text(" ", 1);
            Text(Word());
        }
    }

    // A paragraph of 300 to 1500 characters of text.
    void Paragraph(int nDepth) {
        std::size_t nLength = static_cast<std::size_t>(Range(300, 1500));
        Indent(nDepth);
        char attrs[48];
        std::snprintf(attrs, sizeof attrs, " id=\"p%ld\"%s", ++m_nParagraphs, Chance(80) ? " class=\"lead\"" : "");
        OpenTag("p", attrs);
        m_nCol = 0;
        std::size_t nChars = 0;         // characters of text so far, blanks included
        const char* pszOpen = nullptr;  // the inline element being written
        int nInline = 0;                // its words still to come
        std::string piece;
        for (bool bFirst = true; nChars < nLength || pszOpen; bFirst = false) {
            piece.clear();
            std::size_t nBefore = 0;  // markup bytes in the piece
            if (!pszOpen && !bFirst && Chance(26)) {
                // An inline element over the next words.
                int k = Range(0, 9);
                pszOpen = k < 3 ? "em" : (k < 6 ? "b" : "link");
                nInline = Range(1, 4);
                if (pszOpen[0] == 'l') {
                    char tag[96];
                    int n =
                        std::snprintf(tag, sizeof tag,
                                      "<link href=\"https://example.org/reference/%u/part-%u?lang=en&amp;view=full\">",
                                      Next() % 1000u, Next() % 50u);
                    piece.append(tag, static_cast<std::size_t>(n));
                } else {
                    piece += '<';
                    piece += pszOpen;
                    piece += '>';
                }
                ++m_stats.nElements;
                nBefore = piece.size();
            }
            std::size_t nWord = AppendWord(piece);
            std::size_t nMarkup = nBefore;
            if (pszOpen && --nInline == 0) {
                std::size_t n = piece.size();
                piece += "</";
                piece += pszOpen[0] == 'l' ? "link" : pszOpen;
                piece += '>';
                nMarkup += piece.size() - n;
                pszOpen = nullptr;
            }
            if (Chance(8)) {
                // A footnote mark right after the word.
                char sup[24];
                int n = std::snprintf(sup, sizeof sup, "<sup>%u</sup>", Next() % 40u + 1u);
                piece.append(sup, static_cast<std::size_t>(n));
                nMarkup += 11;  // all but the digits
                m_stats.nText += static_cast<std::size_t>(n - 11);
                ++m_stats.nElements;
            }
            m_stats.nText += nWord;
            nChars += piece.size() - nMarkup + 1;
            Piece(piece, piece.size() - nMarkup, nDepth, bFirst);
        }
        CloseTag("p");
        Markup("\r\n");
    }

    // A word, with now and then an entity in or around it; returns its
    // length.
    std::size_t AppendWord(std::string& piece) {
        std::size_t n = piece.size();
        int k = static_cast<int>(Next() % 1000);
        if (k < 12) {
            piece += "&amp;";
        } else if (k < 18) {
            piece += "&quot;";
            piece += Word();
            piece += "&quot;";
        } else if (k < 22) {
            piece += Word();
            piece += "&apos;s";
        } else if (k < 25) {
            piece += k < 24 ? "&lt;" : "&gt;";
            piece += Word();
        } else {
            piece += Word();
            if (k > 930) piece += k > 975 ? '.' : ',';
        }
        return piece.size() - n;
    }

    // A code listing: a <pre> holding a CDATA section over several lines.
    void Code(int nDepth) {
        Indent(nDepth);
        OpenTag("pre", " lang=\"cpp\"");
        Markup("<![CDATA[");
        std::size_t n = m_out.size();
        m_out +=
            "for (int i = 0; i < n && p[i] != '<'; ++i) {\r\n"
            "\tif (p[i] == '&') i += Entity(p + i, n - i);\r\n"
            "\tout << \"<\" << p[i] << \">\";\r\n"
            "}";
        m_stats.nText += m_out.size() - n;
        Markup("]]>");
        CloseTag("pre");
        Markup("\r\n");
    }

    std::string& m_out;
    BookStats m_stats;
    std::uint32_t m_seed = 0x2545F491u;
    std::size_t m_nCol = 0;
    int m_nSections = 0;
    long m_nParagraphs = 0;
};

#endif
