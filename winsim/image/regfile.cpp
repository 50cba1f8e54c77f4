// REGEDIT4 reader and writer (format described in regfile.h).
#include "winsim/image/regfile.h"

#include "winsim/image/image.h"

#include <algorithm>
#include <stdexcept>

namespace winsim {

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t'; }

constexpr int kMaxKeyDepth = 512;

std::string_view trimLeft(std::string_view s) {
    while (!s.empty() && isBlank(s.front())) s.remove_prefix(1);
    return s;
}
std::string_view trimRight(std::string_view s) {
    while (!s.empty() && isBlank(s.back())) s.remove_suffix(1);
    return s;
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Splits text into lines, dropping a CR before each LF.
class Lines {
public:
    explicit Lines(std::string_view text) : text_(text) {}
    bool next(std::string_view& line) {
        if (pos_ >= text_.size()) return false;
        std::size_t end = text_.find('\n', pos_);
        if (end == std::string_view::npos) end = text_.size();
        line = text_.substr(pos_, end - pos_);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        pos_ = end + 1;
        ++number_;
        return true;
    }
    int number() const { return number_; }

private:
    std::string_view text_;
    std::size_t pos_ = 0;
    int number_ = 0;
};

struct Parser {
    const std::string& file;
    Lines lines;
    std::vector<RegFileOp> ops;
    bool inKey = false;

    [[noreturn]] void fail(const std::string& why) const { throw ImageError(file, lines.number(), why); }

    // Reads a quoted string at the start of `s` (which begins with '"'),
    // undoing \\ and \" escapes; `s` is left after the closing quote.
    std::string quoted(std::string_view& s, const char* what) const {
        std::string out;
        std::size_t i = 1;
        for (;; ++i) {
            if (i >= s.size()) fail(std::string("unterminated ") + what);
            char c = s[i];
            if (c == '"') break;
            if (c == '\\') {
                if (i + 1 >= s.size()) fail(std::string("unterminated ") + what);
                char e = s[++i];
                if (e != '\\' && e != '"') fail("unknown escape " + quotedExcerpt(std::string("\\") + e) + " in " + what);
                out += e;
            } else {
                out += c;
            }
        }
        s.remove_prefix(i + 1);
        return out;
    }

    void heading(std::string_view line) {
        line = trimRight(line);
        if (line.size() < 2 || line.back() != ']') fail("key heading without closing ']'");
        std::string_view inner = line.substr(1, line.size() - 2);
        if (inner.find('\r') != std::string_view::npos) fail("a carriage return inside the key heading");
        bool del = !inner.empty() && inner.front() == '-';
        if (del) inner.remove_prefix(1);
        std::string root;
        std::string_view rest;
        if (!splitRootPath(inner, root, rest))
            fail("unknown root key in heading " + quotedExcerpt(inner) +
                 " (expected HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER, HKEY_CLASSES_ROOT or HKEY_USERS)");
        if (!rest.empty()) {
            std::size_t start = 0;
            int depth = 0;
            for (;;) {
                std::size_t cut = rest.find('\\', start);
                std::string_view part = rest.substr(start, cut == std::string_view::npos ? cut : cut - start);
                if (part.empty()) fail("empty key name in heading " + quotedExcerpt(inner));
                // The registry's own limit: trees are at most 512 levels
                // deep (a deeper file is not a registry and would only
                // cost stack when the tree is walked).
                if (++depth > kMaxKeyDepth)
                    fail("key " + quotedExcerpt(inner) + " is nested deeper than " + std::to_string(kMaxKeyDepth) +
                         " levels");
                if (cut == std::string_view::npos) break;
                start = cut + 1;
            }
        } else if (inner.find('\\') != std::string_view::npos) {
            fail("empty key name in heading " + quotedExcerpt(inner));
        }
        if (del && rest.empty() && root != "HKEY_CLASSES_ROOT") fail("a root key cannot be deleted");
        RegFileOp op;
        op.kind = del ? RegFileOp::DeleteKey : RegFileOp::Key;
        op.path = std::string(inner);
        ops.push_back(std::move(op));
        inKey = !del;
    }

    // Appends the bytes of one physical line of a hex list.
    void hexBytes(std::string_view s, std::vector<BYTE>& out, bool last) {
        s = trimLeft(trimRight(s));
        while (!s.empty()) {
            std::size_t cut = s.find(',');
            std::string_view item = trimLeft(trimRight(s.substr(0, cut)));
            if (item.empty()) {
                // Only a trailing comma may leave an empty item.
                if (cut != std::string_view::npos || !last) fail("empty byte in hex list");
                break;
            }
            if (item.size() > 2) fail("bad byte " + quotedExcerpt(item) + " in hex list");
            int v = 0;
            for (char c : item) {
                int d = hexDigit(c);
                if (d < 0) fail("bad byte " + quotedExcerpt(item) + " in hex list");
                v = v * 16 + d;
            }
            out.push_back((BYTE)v);
            if (cut == std::string_view::npos) break;
            s.remove_prefix(cut + 1);
            s = trimLeft(s);
        }
    }

    // Parses hex data starting on the current line, following continuations.
    std::vector<BYTE> hexList(std::string_view s) {
        std::vector<BYTE> data;
        for (;;) {
            std::string_view t = trimRight(s);
            bool more = !t.empty() && t.back() == '\\';
            if (more) t.remove_suffix(1);
            hexBytes(t, data, !more);
            if (!more) break;
            std::string_view nextLine;
            if (!lines.next(nextLine)) fail("hex list continues past the end of the file");
            s = trimLeft(nextLine);
        }
        return data;
    }

    void value(std::string_view line) {
        if (!inKey) fail("value outside a key");
        RegFileOp op;
        std::string_view s = line;
        if (s.front() == '@') {
            s.remove_prefix(1);
        } else {
            op.name = quoted(s, "value name");  // "" names the default value, like @
            // A lone CR stays inside a line, but no name can carry it back
            // out of the registry into a file.
            if (op.name.find('\r') != std::string::npos) fail("a carriage return inside the value name");
        }
        s = trimLeft(s);
        if (s.empty() || s.front() != '=') fail("expected '=' after the value name");
        s = trimLeft(s.substr(1));
        if (s.empty()) fail("missing value data");
        if (s.front() == '-') {
            if (!trimRight(s.substr(1)).empty()) fail("unexpected text after '-'");
            op.kind = RegFileOp::DeleteValue;
        } else if (s.front() == '"') {
            std::string text = quoted(s, "string");
            if (!trimRight(s).empty()) fail("unexpected text after the string");
            op.kind = RegFileOp::SetValue;
            op.type = REG_SZ;
            op.data.assign(text.begin(), text.end());
            op.data.push_back(0);
        } else if (s.substr(0, 6) == "dword:") {
            std::string_view digits = trimRight(s.substr(6));
            if (digits.empty() || digits.size() > 8) fail("dword: needs 1 to 8 hex digits");
            DWORD v = 0;
            for (char c : digits) {
                int d = hexDigit(c);
                if (d < 0) fail("bad hex digit in dword: value");
                v = (v << 4) | (DWORD)d;
            }
            op.kind = RegFileOp::SetValue;
            op.type = REG_DWORD;
            op.data = {(BYTE)(v & 0xff), (BYTE)((v >> 8) & 0xff), (BYTE)((v >> 16) & 0xff), (BYTE)(v >> 24)};
        } else if (s.substr(0, 4) == "hex:") {
            op.kind = RegFileOp::SetValue;
            op.type = REG_BINARY;
            op.data = hexList(s.substr(4));
        } else if (s.substr(0, 4) == "hex(") {
            std::size_t close = s.find(')');
            if (close == std::string_view::npos || close == 4 || close > 12 || s.substr(close, 2) != "):")
                fail("bad hex(N): type");
            DWORD type = 0;
            for (char c : s.substr(4, close - 4)) {
                int d = hexDigit(c);
                if (d < 0) fail("bad hex(N): type");
                type = (type << 4) | (DWORD)d;
            }
            op.kind = RegFileOp::SetValue;
            op.type = type;
            op.data = hexList(s.substr(close + 2));
        } else {
            fail("unrecognised value data");
        }
        ops.push_back(std::move(op));
    }

    void run() {
        std::string_view line;
        if (!lines.next(line)) throw ImageError(file, 1, "missing REGEDIT4 header (empty file)");
        if (trimRight(line) != "REGEDIT4") fail("missing REGEDIT4 header");
        while (lines.next(line)) {
            line = trimLeft(line);
            if (line.empty() || line.front() == ';') continue;
            if (line.front() == '[')
                heading(line);
            else if (line.front() == '"' || line.front() == '@')
                value(line);
            else
                fail("unexpected line");
        }
    }
};

void appendQuoted(std::string& out, std::string_view s) {
    out += '"';
    for (char c : s) {
        if (c == '\\' || c == '"') out += '\\';
        out += c;
    }
    out += '"';
}

bool plainString(const RegValue& v) {
    if (v.type != REG_SZ || v.data.empty() || v.data.back() != 0) return false;
    for (std::size_t i = 0; i + 1 < v.data.size(); ++i) {
        BYTE c = v.data[i];
        if (c == 0 || c == '\r' || c == '\n') return false;
    }
    return true;
}

const char kHex[] = "0123456789abcdef";

// REGEDIT4 has no way to write a line break inside a name; refuse rather
// than write a file that cannot be read back.
void checkName(std::string_view name, std::string_view where) {
    if (name.find_first_of("\r\n") != std::string_view::npos)
        throw std::runtime_error("cannot write " + std::string(where) + " as REGEDIT4: its name contains a line break");
}

void appendValue(std::string& out, const RegValue& v, const std::string& keyPath) {
    checkName(v.name, "a value of " + keyPath);
    std::size_t lineStart = out.size();
    if (v.name.empty())
        out += '@';
    else
        appendQuoted(out, v.name);
    out += '=';
    if (plainString(v)) {
        appendQuoted(out, std::string_view((const char*)v.data.data(), v.data.size() - 1));
    } else if (v.type == REG_DWORD && v.data.size() == 4) {
        DWORD d = (DWORD)v.data[0] | ((DWORD)v.data[1] << 8) | ((DWORD)v.data[2] << 16) | ((DWORD)v.data[3] << 24);
        out += "dword:";
        for (int shift = 28; shift >= 0; shift -= 4) out += kHex[(d >> shift) & 0xf];
    } else {
        if (v.type == REG_BINARY) {
            out += "hex:";
        } else {
            out += "hex(";
            char buf[16];
            int n = 0;
            DWORD t = v.type;
            do {
                buf[n++] = kHex[t & 0xf];
                t >>= 4;
            } while (t);
            while (n) out += buf[--n];
            out += "):";
        }
        std::size_t col = out.size() - lineStart;
        for (std::size_t i = 0; i < v.data.size(); ++i) {
            out += kHex[v.data[i] >> 4];
            out += kHex[v.data[i] & 0xf];
            col += 2;
            if (i + 1 == v.data.size()) break;
            out += ',';
            ++col;
            if (col >= 77) {
                out += "\\\n  ";
                col = 2;
            }
        }
    }
    out += '\n';
}

void appendTree(std::string& out, const RegKey& k, std::string& path) {
    checkName(k.name, "key " + path);
    // The reader refuses trees deeper than the registry allows; never
    // write one.
    if (std::count(path.begin(), path.end(), '\\') > kMaxKeyDepth)
        throw std::runtime_error("cannot write key " + quotedExcerpt(path) + " as REGEDIT4: nested deeper than " +
                                 std::to_string(kMaxKeyDepth) + " levels");
    out += '[';
    out += path;
    out += "]\n";
    for (const RegValue& v : k.values) appendValue(out, v, path);
    out += '\n';
    for (const auto& [n, c] : k.subkeys) {
        std::size_t len = path.size();
        path += '\\';
        path += c->name;
        appendTree(out, *c, path);
        path.resize(len);
    }
}

}  // namespace

std::vector<RegFileOp> parseRegFile(std::string_view text, const std::string& fileName) {
    Parser p{fileName, Lines(text), {}, false};
    p.run();
    return std::move(p.ops);
}

void applyRegFile(RegistryState& r, const std::vector<RegFileOp>& ops, std::uint64_t now) {
    RegKey* cur = nullptr;
    for (const RegFileOp& op : ops) {
        switch (op.kind) {
        case RegFileOp::Key:
            cur = r.create(op.path, now);
            break;
        case RegFileOp::DeleteKey:
            r.removeTree(op.path);
            cur = nullptr;
            break;
        case RegFileOp::SetValue:
            if (cur) {
                cur->setValue(op.name, op.type, op.data);
                cur->lastWrite = now;
            }
            break;
        case RegFileOp::DeleteValue:
            if (cur && cur->deleteValue(op.name)) cur->lastWrite = now;
            break;
        }
    }
}

void appendRegKeyTree(std::string& out, const RegKey& key) {
    std::string path = key.path();
    appendTree(out, key, path);
}

std::string exportRegistry(const Machine& m, std::string_view keyPath) {
    const RegistryState& r = *m.registry;
    std::string out = "REGEDIT4\n\n";
    if (keyPath.empty()) {
        appendRegKeyTree(out, *r.localMachine);
        appendRegKeyTree(out, *r.currentUser);
        if (!r.users->subkeys.empty() || !r.users->values.empty()) appendRegKeyTree(out, *r.users);
        return out;
    }
    std::string root;
    std::string_view rest;
    if (!splitRootPath(keyPath, root, rest, true))
        throw std::invalid_argument("unknown root key in \"" + std::string(keyPath) + "\"");
    std::string full = root;
    if (!rest.empty()) full += "\\" + std::string(rest);
    const RegKey* k = r.find(full);
    if (!k) throw std::invalid_argument("no such key: " + std::string(keyPath));
    appendRegKeyTree(out, *k);
    return out;
}

void importRegistry(Machine& m, std::string_view text, const std::string& fileName) {
    std::vector<RegFileOp> ops = parseRegFile(text, fileName);
    applyRegFile(*m.registry, ops, registryNow(m));
}

}  // namespace winsim
