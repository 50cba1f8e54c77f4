// REGEDIT4 reader (table-driven) and round trips, and the registry part of
// machine images.
#include "winsim/image/image.h"
#include "winsim/image/regfile.h"
#include "winsim/registry/state.h"
#include "sim.h"

namespace fs = std::filesystem;

namespace {

using sim::testDir;

std::unique_ptr<winsim::Machine> bare(const std::string& name) {
    return winsim::makeBareMachine({}, testDir(name) / "c");
}

// Every key and value of a root, one line each, straight from the store:
// "path" for a key, "path|name|type|hex bytes" for a value.
void dumpKey(const winsim::RegKey& k, std::string& out) {
    std::string p = k.path();
    out += p + "\n";
    for (const auto& v : k.values) {
        out += p + "|" + v.name + "|" + std::to_string(v.type) + "|";
        static const char* hex = "0123456789abcdef";
        for (BYTE b : v.data) {
            out += hex[b >> 4];
            out += hex[b & 15];
        }
        out += "\n";
    }
    for (const auto& [n, c] : k.subkeys) dumpKey(*c, out);
}

std::string dump(const winsim::Machine& m) {
    std::string out;
    dumpKey(*m.registry->localMachine, out);
    dumpKey(*m.registry->currentUser, out);
    return out;
}

struct ReadCase {
    const char* title;
    const char* text;
    const char* expected;  // dump lines below the roots; null when an error is expected
    int errorLine;
};

const char* const kRoots = "HKEY_LOCAL_MACHINE\n";

const ReadCase kReadCases[] = {
    {"string value", "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\A]\n\"n\"=\"hi\"\n",
     "HKEY_LOCAL_MACHINE\\A\nHKEY_LOCAL_MACHINE\\A|n|1|686900\n", 0},
    {"escapes in name and data", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"q\\\"\\\\\"=\"C:\\\\dir\\\\\\\"x\\\"\"\n",
     "HKEY_LOCAL_MACHINE\\A\nHKEY_LOCAL_MACHINE\\A|q\"\\|1|433a5c6469725c22782200\n", 0},
    {"default value with @ and with empty name",
     "REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n@=\"d\"\n[HKEY_LOCAL_MACHINE\\B]\n\"\"=\"e\"\n",
     "HKEY_LOCAL_MACHINE\\A\nHKEY_LOCAL_MACHINE\\A||1|6400\nHKEY_LOCAL_MACHINE\\B\nHKEY_LOCAL_MACHINE\\B||1|6500\n", 0},
    {"dword", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"d\"=dword:0000002A\n\"s\"=dword:1\n",
     "HKEY_LOCAL_MACHINE\\A\nHKEY_LOCAL_MACHINE\\A|d|4|2a000000\nHKEY_LOCAL_MACHINE\\A|s|4|01000000\n", 0},
    {"hex and hex(N) types", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"b\"=hex:1,ff,0A\n\"e\"=hex(2):25,00\n"
     "\"m\"=hex(7):61,00,00\n\"x\"=hex(b):\n\"big\"=hex(100000):7f\n",
     "HKEY_LOCAL_MACHINE\\A\nHKEY_LOCAL_MACHINE\\A|b|3|01ff0a\nHKEY_LOCAL_MACHINE\\A|e|2|2500\n"
     "HKEY_LOCAL_MACHINE\\A|m|7|610000\nHKEY_LOCAL_MACHINE\\A|x|11|\nHKEY_LOCAL_MACHINE\\A|big|1048576|7f\n",
     0},
    {"continuation lines", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"b\"=hex:01,02,\\\n  03,04,\\\n\t05\n\"n\"=\"x\"\n",
     "HKEY_LOCAL_MACHINE\\A\nHKEY_LOCAL_MACHINE\\A|b|3|0102030405\nHKEY_LOCAL_MACHINE\\A|n|1|7800\n", 0},
    {"comments, blank lines and CRLF", "REGEDIT4\r\n; a comment\r\n\r\n[HKEY_CURRENT_USER\\K]\r\n  ; indented\r\n"
     "\"v\"=\"1\"\r\n",
     "HKEY_CURRENT_USER\nHKEY_CURRENT_USER\\K\nHKEY_CURRENT_USER\\K|v|1|3100\n", 0},
    {"delete key and value", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\A\\B]\n\"v\"=\"1\"\n\"w\"=\"2\"\n"
     "[-HKEY_LOCAL_MACHINE\\A\\B]\n[HKEY_LOCAL_MACHINE\\A]\n\"k\"=\"3\"\n\"k\"=-\n\"keep\"=\"4\"\n",
     "HKEY_LOCAL_MACHINE\\A\nHKEY_LOCAL_MACHINE\\A|keep|1|3400\n", 0},
    {"classes root maps onto SOFTWARE\\Classes", "REGEDIT4\n[HKEY_CLASSES_ROOT\\.txt]\n@=\"txtfile\"\n",
     "HKEY_LOCAL_MACHINE\\SOFTWARE\nHKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\nHKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\.txt\n"
     "HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\.txt||1|74787466696c6500\n",
     0},
    {"case-insensitive key names keep first case", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\Abc]\n[hkey_local_machine\\ABC]\n"
     "\"v\"=\"1\"\n",
     "HKEY_LOCAL_MACHINE\\Abc\nHKEY_LOCAL_MACHINE\\Abc|v|1|3100\n", 0},
    // Errors: the line named is the faulty one.
    {"empty file", "", nullptr, 1},
    {"missing header", "REGEDIT5\n[HKEY_LOCAL_MACHINE\\A]\n", nullptr, 1},
    {"value before any key", "REGEDIT4\n\"v\"=\"1\"\n", nullptr, 2},
    {"unknown root", "REGEDIT4\n\n[HKEY_NOWHERE\\A]\n", nullptr, 3},
    {"unclosed heading", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\A\n", nullptr, 2},
    {"empty key name", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\A\\\\B]\n", nullptr, 2},
    {"delete a root", "REGEDIT4\n[-HKEY_LOCAL_MACHINE]\n", nullptr, 2},
    {"unterminated string", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"v\"=\"abc\n", nullptr, 3},
    {"unknown escape", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"v\"=\"a\\nb\"\n", nullptr, 3},
    {"text after string", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"v\"=\"a\" x\n", nullptr, 3},
    {"bad dword", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"v\"=dword:123456789\n", nullptr, 3},
    {"bad dword digit", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"v\"=dword:0000000g\n", nullptr, 3},
    {"bad hex byte", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"v\"=hex:01,2g\n", nullptr, 3},
    {"bad hex byte on a continuation line", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"v\"=hex:01,\\\n  123\n", nullptr,
     4},
    {"continuation past the end", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"v\"=hex:01,\\\n", nullptr, 3},
    {"bad hex type", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"v\"=hex(z):01\n", nullptr, 3},
    {"empty hex type", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"v\"=hex():01\n", nullptr, 3},
    {"hex type longer than 8 digits", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"v\"=hex(000000007):01\n", nullptr, 3},
    {"missing equals", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"v\" \"x\"\n", nullptr, 3},
    {"unknown data", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"v\"=qword:1\n", nullptr, 3},
    {"stray line", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\nv=1\n", nullptr, 3},
    {"value after a deleted key", "REGEDIT4\n[-HKEY_LOCAL_MACHINE\\A]\n\"v\"=\"1\"\n", nullptr, 3},
    // A CR inside a line could never be written back out of the registry.
    {"carriage return in a value name", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"a\rb\"=\"x\"\n", nullptr, 3},
    {"carriage return in a key heading", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\A\rB]\n", nullptr, 2},
    {"an error late in the file applies nothing before it",
     "REGEDIT4\n[HKEY_LOCAL_MACHINE\\Good]\n\"v\"=\"1\"\n[HKEY_LOCAL_MACHINE\\Bad]\n\"v\"=dword:xyz\n", nullptr, 5},
};

// What `text` imports into a bare machine, or the error it is refused with
// (the machine then unchanged).
std::string imported(const std::string& text, const char* name) {
    auto& m = winsim::install(bare("import"));
    const std::string before = dump(m);
    try {
        winsim::importRegistry(m, text, name);
    } catch (const winsim::ImageError& e) {
        EXPECT_EQ(dump(m), before);
        return e.what();
    }
    return dump(m);
}

TEST(RegFileReader, Table) {
    for (const ReadCase& c : kReadCases) {
        SCOPED_TRACE(c.title);
        std::string got = imported(c.text, "t.reg");
        if (c.expected) {
            std::string want = std::string(kRoots) + c.expected;
            if (want.find("HKEY_CURRENT_USER") == std::string::npos) want += "HKEY_CURRENT_USER\n";
            EXPECT_EQ(got, want);
        } else {
            EXPECT_EQ(got.rfind("t.reg:" + std::to_string(c.errorLine) + ": ", 0), 0u) << got;
        }
    }
}

// Trees are at most 512 levels deep for the reader and the writer alike,
// and an error quotes at most a short piece of a huge line.
TEST(RegFileReader, DepthLimitAndShortErrors) {
    std::string deep = "HKEY_LOCAL_MACHINE";
    for (int i = 0; i < 512; ++i) deep += "\\k";
    std::string said = imported("REGEDIT4\n[" + deep + "\\k]\n", "deep.reg");
    EXPECT_NE(said.find("nested deeper than 512 levels"), std::string::npos) << said;
    EXPECT_LT(said.size(), 300u);
    const std::string huge(1000000, 'z');
    for (const std::string& text : {"REGEDIT4\n[HKEY_NOWHERE\\" + huge + "]\n", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"v\"=hex:" + huge + "\n"}) {
        said = imported(text, "huge.reg");
        EXPECT_LT(said.size(), 300u);
        EXPECT_NE(said.find(" characters)"), std::string::npos) << said.substr(0, 300);
    }
    auto& m = winsim::install(bare("depth"));
    EXPECT_NO_THROW(winsim::importRegistry(m, "REGEDIT4\n[" + deep + "]\n", "ok.reg"));
    EXPECT_NO_THROW(winsim::exportRegistry(m, ""));
    HKEY h;
    ASSERT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, (deep.substr(19) + "\\k").c_str(), &h), ERROR_SUCCESS);
    RegCloseKey(h);
    EXPECT_THROW(winsim::exportRegistry(m, ""), std::runtime_error);
}

// --- Round trips ---------------------------------------------------------------

const char* const kEveryType =
    "REGEDIT4\n"
    "\n"
    "[HKEY_LOCAL_MACHINE]\n"
    "\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE]\n"
    "\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Test]\n"
    "@=\"default \\\"quoted\\\" C:\\\\path\\\\\"\n"
    "\"String\"=\"plain text\"\n"
    "\"Empty\"=\"\"\n"
    "\"Dword\"=dword:0000ffff\n"
    "\"Binary\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,\\\n"
    "  16,17,18,19,1a,1b,1c,1d,1e,1f,20,21,22,23,24,25,26,27,28,29,2a,2b,2c,2d,2e,\\\n"
    "  2f,30\n"
    "\"Expand\"=hex(2):25,53,79,73,74,65,6d,52,6f,6f,74,25,5c,73,79,73,74,65,6d,33,32,\\\n"
    "  00\n"
    "\"Multi\"=hex(7):6f,6e,65,00,74,77,6f,00,00\n"
    "\"None\"=hex(0):\n"
    "\"BigEndian\"=hex(5):00,00,00,01\n"
    "\"Odd type\"=hex(1234):aa,bb\n"
    "\"SzNoNul\"=hex(1):61,62\n"
    "\"Sz with CR\"=hex(1):61,0d,0a,62,00\n"
    "\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Test\\a sub]\n"
    "\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Test\\B sub]\n"
    "\"x\"=dword:00000000\n"
    "\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Test\\B sub\\[brackets]]\n"
    "\n"
    "[HKEY_CURRENT_USER]\n"
    "\n"
    "[HKEY_CURRENT_USER\\Software]\n"
    "\"v\"=\"1\"\n"
    "\n";

TEST(RegFileRoundTrip, ApiWrittenValuesSurvive) {
    auto& m = winsim::install(bare("api"));
    HKEY h;
    ASSERT_EQ(RegCreateKeyA(HKEY_CURRENT_USER, "K", &h), ERROR_SUCCESS);
    std::string nasty = "semi;colon [x] = \"q\" \\ end";
    RegSetValueExA(h, nasty.c_str(), 0, REG_SZ, (const BYTE*)nasty.c_str(), (DWORD)nasty.size() + 1);
    RegCloseKey(h);
    std::string text = winsim::exportRegistry(m, "");
    auto copy = bare("api2");
    winsim::importRegistry(*copy, text, "api.reg");
    EXPECT_EQ(dump(*copy), dump(m));
    // Control characters stay quoted but line ends and inner NULs make hex(1); names refuse line ends.
    const std::pair<std::string, const char*> strings[] = {
        {"a\x01\x1f\tb", "\"s\"=\"a\x01\x1f\tb\"\n"}, {"a\nb", "\"s\"=hex(1):61,0a,62,00\n"},
        {"a\rb", "\"s\"=hex(1):61,0d,62,00\n"}, {std::string("a\0b", 3), "\"s\"=hex(1):61,00,62,00\n"}};
    for (const auto& [data, line] : strings) {
        RegSetValueExA(HKEY_CURRENT_USER, "s", 0, REG_SZ, (const BYTE*)data.c_str(), (DWORD)data.size() + 1);
        EXPECT_NE(winsim::exportRegistry(m, "HKEY_CURRENT_USER").find(line), std::string::npos) << line;
    }
    RegSetValueExA(HKEY_CURRENT_USER, "two\nlines", 0, REG_SZ, (const BYTE*)"x", 2);
    EXPECT_ANY_THROW(winsim::exportRegistry(m, "HKEY_CURRENT_USER"));
}

// --- Image folder and machine.json section -------------------------------------

std::string denials(const winsim::Machine& m) {
    std::string out;
    for (const auto& d : m.registry->deny) out += d.key + (d.all ? " all, " : " write, ");
    return out;
}

// Every type through the registry files of an image and back, unchanged
// (HKEY_USERS only once it holds anything), its deny rules, and an image
// without registry files.
TEST(RegistryImage, SaveAndLoadKeepRegistryAndDenials) {
    fs::path image = testDir("image");
    {
        auto m = bare("image-src");
        winsim::importRegistry(*m, kEveryType, "every.reg");
        m->registry->deny.push_back({"HKEY_LOCAL_MACHINE\\SOFTWARE\\Test", false});
        m->registry->deny.push_back({"HKEY_CURRENT_USER\\Software", true});
        winsim::saveImage(*m, image);
    }
    EXPECT_FALSE(fs::exists(image / "registry" / "HKEY_USERS.reg"));
    auto& loaded = winsim::install(winsim::loadImage(image));
    EXPECT_EQ(winsim::exportRegistry(loaded, ""), kEveryType);
    const char* expand = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Test|Expand|2|2553797374656d526f6f74255c73797374656d333200\n";
    EXPECT_NE(dump(loaded).find(expand), std::string::npos) << "the values reach the store as written";
    // A sub-tree into another machine, the same bytes again.
    const std::string sub = winsim::exportRegistry(loaded, "HKEY_LOCAL_MACHINE\\SOFTWARE\\Test\\B sub");
    auto other = bare("other");
    winsim::importRegistry(*other, sub, "sub.reg");
    EXPECT_EQ(winsim::exportRegistry(*other, "HKEY_LOCAL_MACHINE\\SOFTWARE\\Test\\B sub"), sub);
    EXPECT_EQ(denials(loaded), "HKEY_LOCAL_MACHINE\\SOFTWARE\\Test write, HKEY_CURRENT_USER\\Software all, ");
    std::ostringstream show;
    winsim::showRegistry(show, loaded);
    EXPECT_NE(show.str().find("HKEY_LOCAL_MACHINE: 5 keys, 13 values"), std::string::npos) << show.str();
    HKEY h;
    ASSERT_EQ(RegCreateKeyA(HKEY_USERS, ".DEFAULT\\Software", &h), ERROR_SUCCESS);
    RegCloseKey(h);
    winsim::saveImage(loaded, image);
    winsim::discardWorkingCopy(loaded);
    auto again = winsim::loadImage(image);
    EXPECT_NE(again->registry->find("HKEY_USERS\\.default\\software"), nullptr);
    winsim::discardWorkingCopy(*again);
    auto empty = bare("folder-empty");
    winsim::readRegistryFolder(image / "missing", *empty);
    EXPECT_TRUE(empty->registry->localMachine->subkeys.empty());
    // A rule names its key by the full path.
    winsim::loadRegistry(nlohmann::json{{"deny", {{{"key", "HKEY_CLASSES_ROOT\\.txt\\"}, {"access", "all"}}}}}, *empty);
    EXPECT_EQ(denials(*empty), "HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\.txt all, ");
}

}  // namespace
