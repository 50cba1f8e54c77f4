// INF reader: parses our classic-style INF text into sections of keyed
// lines of fields, with case-insensitive section and key look-up.
//
//   ; comment
//   [Section Name]
//   key = field1, field2, "quoted, field", ...
//
// Malformed input is refused with the line and the reason.
#include "internal.h"

namespace kit {

std::string lowerAscii(std::string_view s) {
    std::string r(s);
    for (char& c : r)
        if (c >= 'A' && c <= 'Z') c = (char)(c + 32);
    return r;
}

namespace {
bool sameIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        unsigned char x = (unsigned char)a[i], y = (unsigned char)b[i];
        if (x >= 'A' && x <= 'Z') x = (unsigned char)(x + 32);
        if (y >= 'A' && y <= 'Z') y = (unsigned char)(y + 32);
        if (x != y) return false;
    }
    return true;
}
}  // namespace

const InfSection* Inf::section(std::string_view name) const {
    if (lastSection && name == lastSectionName) return lastSection;
    auto it = bySection.find(lowerAscii(name));
    if (it == bySection.end()) return nullptr;
    lastSectionName.assign(name);
    lastSection = &sections[it->second];
    return lastSection;
}

const InfLine* Inf::line(const InfSection& s, std::string_view key) const {
    if (cursorSection == &s && cursorPos < s.lines.size()) {
        const InfLine& next = lines[s.lines[cursorPos]];
        if (sameIgnoringCase(strings[next.key], key)) {
            ++cursorPos;
            return &next;
        }
    }
    auto it = s.byKey.find(lowerAscii(key));
    if (it == s.byKey.end()) return nullptr;
    // A section's lines are contiguous in the file, so the position of a
    // line within its section follows from its index.
    std::size_t pos = s.lines.empty() ? 0 : it->second - s.lines.front();
    if (pos < s.lines.size() && s.lines[pos] == it->second) {
        cursorSection = &s;
        cursorPos = pos + 1;
    } else {
        cursorSection = nullptr;
    }
    return &lines[it->second];
}

std::string_view Inf::field(const InfLine& l, unsigned n) const {
    if (n == 0) return strings[l.key];
    if (n > l.fieldCount) return {};
    return strings[fields[l.firstField + n - 1]];
}

namespace {

// A section name inside [ ] in a message, cut like any quoted excerpt.
std::string bracketed(std::string_view name) {
    std::string e = excerpt(name, 40);
    return e.substr(1, e.rfind('"') - 1);
}

bool isBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view trim(std::string_view s) {
    while (!s.empty() && isBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && isBlank(s.back())) s.remove_suffix(1);
    return s;
}

// Scans one item (key or field) starting at `pos`. Stops before `stop`,
// ';' (comment) or the end of the line. Returns false with `why` set on a
// malformed item.
bool scanItem(std::string_view text, std::size_t& pos, char stop, std::string& item, std::string& why) {
    item.clear();
    while (pos < text.size() && isBlank(text[pos])) ++pos;
    if (pos < text.size() && text[pos] == '"') {
        ++pos;
        for (;;) {
            if (pos >= text.size()) {
                why = "unterminated quoted text";
                return false;
            }
            char c = text[pos++];
            if (c == '"') {
                if (pos < text.size() && text[pos] == '"') {  // "" stands for one quote
                    item += '"';
                    ++pos;
                    continue;
                }
                break;
            }
            item += c;
        }
        while (pos < text.size() && isBlank(text[pos])) ++pos;
        if (pos < text.size() && text[pos] != stop && text[pos] != ';') {
            why = "unexpected text after a closing quote";
            return false;
        }
        return true;
    }
    std::size_t start = pos;
    while (pos < text.size() && text[pos] != stop && text[pos] != ';') {
        if (text[pos] == '"') {
            why = "a quote inside an unquoted field";
            return false;
        }
        ++pos;
    }
    item = std::string(trim(text.substr(start, pos - start)));
    return true;
}

// Field 15 of a file line is the file's size in bytes: decimal digits
// whose value fits the signed 32-bit count the program adds up. "" when
// it is right, else the reason.
std::string checkSizeField(const Inf& inf, const InfLine& line) {
    const std::string_view f = inf.field(line, 15);
    const char* what = "field 15 (the size in bytes)";
    if (line.fieldCount < 15 || f.empty()) return std::string(what) + " is missing";
    if (f.find_first_not_of("0123456789") != std::string_view::npos)
        return std::string(what) + " " + excerpt(f) + " is not a decimal number";
    std::size_t digits = f.find_first_not_of('0');
    std::string_view v = digits == std::string_view::npos ? std::string_view("0") : f.substr(digits);
    if (v.size() > 10 || (v.size() == 10 && v > "2147483647"))
        return std::string(what) + " " + excerpt(f) + " is larger than 2147483647";
    return {};
}

std::uint32_t addString(Inf& inf, std::string s) {
    inf.strings.push_back(std::move(s));
    return (std::uint32_t)(inf.strings.size() - 1);
}

}  // namespace

bool parseInf(std::string_view text, Inf& inf, InfError& err) {
    auto fail = [&](int line, std::string why) {
        err.line = line;
        err.reason = std::move(why);
        return false;
    };
    if (text.size() >= 3 && text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    int lineNo = 0;
    InfSection* cur = nullptr;
    std::size_t at = 0;
    std::string item, why;
    while (at < text.size()) {
        std::size_t nl = text.find('\n', at);
        std::string_view raw = text.substr(at, nl == std::string_view::npos ? std::string_view::npos : nl - at);
        at = nl == std::string_view::npos ? text.size() : nl + 1;
        ++lineNo;
        if (!raw.empty() && raw.back() == '\r') raw.remove_suffix(1);
        if (raw.find('\0') != std::string_view::npos) return fail(lineNo, "a NUL character in the text");
        std::string_view s = trim(raw);
        if (s.empty() || s[0] == ';') continue;
        if (s[0] == '[') {
            std::size_t close = s.find(']');
            if (close == std::string_view::npos) return fail(lineNo, "section header without ']'");
            std::string_view rest = trim(s.substr(close + 1));
            if (!rest.empty() && rest[0] != ';') return fail(lineNo, "unexpected text after the section header");
            std::string_view name = trim(s.substr(1, close - 1));
            if (name.empty()) return fail(lineNo, "empty section name");
            std::string lname = lowerAscii(name);
            auto [it, fresh] = inf.bySection.emplace(lname, (std::uint32_t)inf.sections.size());
            if (!fresh)
                return fail(lineNo, "section [" + bracketed(name) + "] appears twice (first at line " +
                                        std::to_string(inf.sections[it->second].lineNo) + ")");
            inf.sections.push_back({});
            cur = &inf.sections.back();
            cur->name = std::string(name);
            cur->lineNo = lineNo;
            continue;
        }
        if (!cur) return fail(lineNo, "a line outside any section");
        std::size_t pos = 0;
        if (!scanItem(s, pos, '=', item, why)) return fail(lineNo, why);
        if (pos >= s.size() || s[pos] != '=') return fail(lineNo, "missing '=' after the key");
        if (item.empty()) return fail(lineNo, "empty key");
        ++pos;
        InfLine line{};
        line.lineNo = (std::uint32_t)lineNo;
        std::string lkey = lowerAscii(item);
        line.key = addString(inf, item);
        line.firstField = (std::uint32_t)inf.fields.size();
        // Fields: comma-separated up to the end or a comment.
        std::string_view afterEq = trim(s.substr(pos));
        if (!afterEq.empty() && afterEq[0] != ';') {
            for (;;) {
                if (!scanItem(s, pos, ',', item, why)) return fail(lineNo, why);
                inf.fields.push_back(addString(inf, item));
                ++line.fieldCount;
                if (pos < s.size() && s[pos] == ',') {
                    ++pos;
                    continue;
                }
                break;  // end of line or comment
            }
        }
        // A line with fields names a file; its size must be readable.
        if (line.fieldCount > 0)
            if (std::string bad = checkSizeField(inf, line); !bad.empty()) return fail(lineNo, bad);
        auto [kit, fresh] = cur->byKey.emplace(std::move(lkey), (std::uint32_t)inf.lines.size());
        if (!fresh)
            return fail(lineNo, "key " + excerpt(inf.strings[line.key]) + " appears twice in [" +
                                    bracketed(cur->name) + "] (first at line " + std::to_string(inf.lines[kit->second].lineNo) + ")");
        cur->lines.push_back((std::uint32_t)inf.lines.size());
        inf.lines.push_back(line);
    }
    return true;
}

std::unique_ptr<Inf>& currentInf() {
    static std::unique_ptr<Inf> inf;
    return inf;
}

}  // namespace kit
