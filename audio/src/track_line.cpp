#include "track_line.h"

#include <cstring>

#include "lv/utf.h"

namespace {

// Each field's share of the line once escaped, leaving room for the keys.
constexpr size_t kFieldMax = (TRACK_LINE_MAX - 64) / 3;
// Members nested deeper than this are not a track record.
constexpr int kMaxDepth = 8;

// The code point starting at s[i], advancing i past it; -1 (i one byte on)
// for bytes that are not UTF-8: stray continuations, overlong forms,
// surrogates, values past U+10FFFF, sequences cut short.
long nextCodePoint(std::string_view s, size_t& i) {
    static const long kMin[4] = {0, 0x80, 0x800, 0x10000};
    const auto c = static_cast<unsigned char>(s[i]);
    int extra;
    long cp;
    if (c < 0x80) {
        ++i;
        return c;
    } else if ((c & 0xE0) == 0xC0) {
        extra = 1, cp = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
        extra = 2, cp = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
        extra = 3, cp = c & 0x07;
    } else {
        ++i;
        return -1;
    }
    if (i + size_t(extra) >= s.size()) {
        ++i;
        return -1;
    }
    for (int k = 1; k <= extra; ++k) {
        const auto b = static_cast<unsigned char>(s[i + size_t(k)]);
        if ((b & 0xC0) != 0x80) {
            ++i;
            return -1;
        }
        cp = (cp << 6) | (b & 0x3F);
    }
    if (cp < kMin[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        ++i;
        return -1;
    }
    i += size_t(extra) + 1;
    return cp;
}

// `text` as the inside of a JSON string, at most kFieldMax bytes of it.
std::string escaped(std::string_view text) {
    std::string out;
    for (size_t i = 0; i < text.size();) {
        long cp = nextCodePoint(text, i);
        std::string one;
        if (cp <= 0) cp = 0xFFFD;   // not UTF-8, or U+0000, which readers refuse
        switch (cp) {
            case '"': one = "\\\""; break;
            case '\\': one = "\\\\"; break;
            case '\b': one = "\\b"; break;
            case '\f': one = "\\f"; break;
            case '\n': one = "\\n"; break;
            case '\r': one = "\\r"; break;
            case '\t': one = "\\t"; break;
            default:
                if (cp < 0x20 || cp == 0x7F) {
                    static const char kHex[] = "0123456789abcdef";
                    one = "\\u00";
                    one += kHex[cp >> 4];
                    one += kHex[cp & 15];
                } else {
                    lv::appendUtf8(one, uint32_t(cp));
                }
        }
        if (out.size() + one.size() > kFieldMax) break;
        out += one;
    }
    return out;
}

// A recursive-descent reader of exactly the JSON a track line may hold,
// over text already known to be UTF-8.
class Parser {
public:
    explicit Parser(std::string_view s) : s(s) {}

    bool record(lv::TrackMeta& out) {
        bool haveTitle = false;
        space();
        if (!take('{')) return false;
        space();
        if (take('}')) return false;   // no title
        do {
            std::string key, value;
            space();
            if (!string(key)) return false;
            space();
            if (!take(':')) return false;
            space();
            std::string* field = key == "title" ? &out.title : key == "artist" ? &out.artist
                                 : key == "album" ? &out.album : nullptr;
            if (field) {
                if (!string(*field)) return false;
                haveTitle = haveTitle || field == &out.title;
            } else if (!skipValue(1)) {
                return false;
            }
            space();
        } while (take(','));
        if (!take('}')) return false;
        space();
        return haveTitle && i == s.size();
    }

private:
    bool take(char c) {
        if (i < s.size() && s[i] == c) {
            ++i;
            return true;
        }
        return false;
    }
    void space() {
        while (i < s.size() && (s[i] == ' ' || s[i] == '\t' || s[i] == '\n' || s[i] == '\r')) ++i;
    }

    // Four hex digits after "\u".
    bool hex4(long& value) {
        if (s.size() - i < 4) return false;
        value = 0;
        for (int k = 0; k < 4; ++k, ++i) {
            const char c = s[i];
            const int d = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10
                          : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
            if (d < 0) return false;
            value = value * 16 + d;
        }
        return true;
    }

    // \uXXXX, a surrogate pair as one character; lone surrogates and U+0000
    // (it would cut the text short downstream) are refused.
    bool unicodeEscape(std::string& out) {
        long cp;
        if (!hex4(cp) || cp == 0 || (cp >= 0xDC00 && cp <= 0xDFFF)) return false;
        if (cp >= 0xD800 && cp <= 0xDBFF) {
            long low;
            if (!take('\\') || !take('u') || !hex4(low) || low < 0xDC00 || low > 0xDFFF) return false;
            cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
        }
        lv::appendUtf8(out, uint32_t(cp));
        return true;
    }

    bool string(std::string& out) {
        out.clear();
        if (!take('"')) return false;
        while (i < s.size()) {
            const auto c = static_cast<unsigned char>(s[i++]);
            if (c == '"') return true;
            if (c < 0x20) return false;   // raw control characters are not JSON
            if (c != '\\') {
                out += char(c);
                continue;
            }
            if (i == s.size()) return false;
            switch (s[i++]) {
                case '"': out += '"'; break;
                case '\\': out += '\\'; break;
                case '/': out += '/'; break;
                case 'b': out += '\b'; break;
                case 'f': out += '\f'; break;
                case 'n': out += '\n'; break;
                case 'r': out += '\r'; break;
                case 't': out += '\t'; break;
                case 'u':
                    if (!unicodeEscape(out)) return false;
                    break;
                default: return false;
            }
        }
        return false;   // no closing quote
    }

    bool skipValue(int depth) {
        if (depth > kMaxDepth || i == s.size()) return false;
        std::string scratch;
        const char c = s[i];
        if (c == '"') return string(scratch);
        if (c == '{' || c == '[') return skipContainer(depth);
        for (std::string_view word : {"true", "false", "null"})
            if (s.substr(i, word.size()) == word) {
                i += word.size();
                return true;
            }
        return number();
    }

    bool digit() const { return i < s.size() && s[i] >= '0' && s[i] <= '9'; }
    bool digits() {
        if (!digit()) return false;
        while (digit()) ++i;
        return true;
    }

    // JSON's number and nothing looser: no leading zeros, plus signs, bare
    // points or exponents without digits.
    bool number() {
        take('-');
        if (!take('0') && !digits()) return false;
        if (take('.') && !digits()) return false;
        if (take('e') || take('E')) {
            if (!take('+')) take('-');
            if (!digits()) return false;
        }
        return true;   // what follows ("01", "1.2.3") is for the caller to refuse
    }

    bool skipContainer(int depth) {
        const char close = s[i++] == '{' ? '}' : ']';
        space();
        if (take(close)) return true;
        do {
            space();
            if (close == '}') {
                std::string key;
                if (!string(key)) return false;
                space();
                if (!take(':')) return false;
                space();
            }
            if (!skipValue(depth + 1)) return false;
            space();
        } while (take(','));
        return take(close);
    }

    std::string_view s;
    size_t i = 0;
};

}  // namespace

std::string trackLine(const lv::TrackMeta& meta) {
    return "{\"title\":\"" + escaped(meta.title) + "\",\"artist\":\"" + escaped(meta.artist) + "\",\"album\":\"" +
           escaped(meta.album) + "\"}\n";
}

bool parseTrackLine(std::string_view line, lv::TrackMeta& out) {
    // The bound counts the newline, whether or not it was handed over.
    const size_t withNewline = line.size() + (line.empty() || line.back() != '\n' ? 1 : 0);
    if (withNewline > TRACK_LINE_MAX) return false;
    for (size_t i = 0; i < line.size();)
        if (nextCodePoint(line, i) < 0) return false;
    lv::TrackMeta parsed;
    if (!Parser(line).record(parsed)) return false;
    out = std::move(parsed);
    return true;
}

void TrackLineReader::feed(const char* data, size_t size, const std::function<void(std::string_view)>& onLine) {
    for (size_t i = 0; i < size;) {
        const char* end = static_cast<const char*>(std::memchr(data + i, '\n', size - i));
        const size_t stop = end ? size_t(end - data) : size;
        if (!mSkipping && mLine.size() + (stop - i) >= TRACK_LINE_MAX) {   // no room left for its newline
            mLine.clear();
            mSkipping = true;
        }
        if (!mSkipping) mLine.append(data + i, stop - i);
        i = stop;
        if (!end) break;
        ++i;
        if (!mSkipping) onLine(mLine);
        mLine.clear();
        mSkipping = false;
    }
}
