// The exported-name list kept in ctrl/exports.txt against the dynamic symbols of libTvkCtrl.so: every
// listed function is exported as name and _name at one address, and the library exports no other C
// function (the frame class's methods are C++ names and are left out).
#include <gtest/gtest.h>

#include <cstring>
#include <elf.h>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>

namespace {

// Defined global function symbols of an ELF64 shared library's .dynsym, name -> address.
std::map<std::string, uint64_t> dynamicFunctions(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::map<std::string, uint64_t> symbols;
    if (bytes.size() < sizeof(Elf64_Ehdr) || std::memcmp(bytes.data(), ELFMAG, SELFMAG) != 0 ||
        bytes[EI_CLASS] != ELFCLASS64)
        return symbols;
    Elf64_Ehdr header;
    std::memcpy(&header, bytes.data(), sizeof header);
    auto section = [&](size_t i) {
        Elf64_Shdr s{};
        const size_t at = header.e_shoff + i * header.e_shentsize;
        if (at + sizeof s <= bytes.size())
            std::memcpy(&s, bytes.data() + at, sizeof s);
        return s;
    };
    for (size_t i = 0; i < header.e_shnum; ++i) {
        const Elf64_Shdr dynsym = section(i);
        if (dynsym.sh_type != SHT_DYNSYM)
            continue;
        const Elf64_Shdr strings = section(dynsym.sh_link);
        for (size_t at = dynsym.sh_offset; at + sizeof(Elf64_Sym) <= dynsym.sh_offset + dynsym.sh_size;
             at += sizeof(Elf64_Sym)) {
            Elf64_Sym sym;
            std::memcpy(&sym, bytes.data() + at, sizeof sym);
            const unsigned bind = ELF64_ST_BIND(sym.st_info);
            if (sym.st_shndx == SHN_UNDEF || ELF64_ST_TYPE(sym.st_info) != STT_FUNC ||
                (bind != STB_GLOBAL && bind != STB_WEAK) || ELF64_ST_VISIBILITY(sym.st_other) != STV_DEFAULT)
                continue;
            const size_t nameAt = strings.sh_offset + sym.st_name;
            if (nameAt >= bytes.size())
                continue;
            symbols[std::string(bytes.data() + nameAt, strnlen(bytes.data() + nameAt, bytes.size() - nameAt))] =
                sym.st_value;
        }
    }
    return symbols;
}

std::vector<std::string> listedNames()
{
    std::ifstream in(EXPORTS_LIST);
    std::vector<std::string> names;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (!line.empty() && line[0] != '#')
            names.push_back(line);
    }
    return names;
}

bool isCppName(const std::string& name)
{
    return name.rfind("_Z", 0) == 0;
}

TEST(TvkCtrlExports, ListMatchesDynamicSymbolsInBothSpellings)
{
    const std::vector<std::string> names = listedNames();
    ASSERT_FALSE(names.empty()) << EXPORTS_LIST;
    const std::map<std::string, uint64_t> symbols = dynamicFunctions(TVKCTRL_PATH);
    ASSERT_FALSE(symbols.empty()) << TVKCTRL_PATH;

    std::set<std::string> expected;
    for (const std::string& name : names) {
        EXPECT_TRUE(expected.insert(name).second) << "listed twice: " << name;
        expected.insert("_" + name);
        const auto plain = symbols.find(name);
        const auto underscore = symbols.find("_" + name);
        EXPECT_NE(plain, symbols.end()) << "not exported: " << name;
        EXPECT_NE(underscore, symbols.end()) << "not exported: _" << name;
        if (plain != symbols.end() && underscore != symbols.end()) {
            EXPECT_EQ(plain->second, underscore->second) << name << " and _" << name << " differ";
        }
    }
    for (const auto& [name, address] : symbols) {
        if (!isCppName(name)) {
            EXPECT_TRUE(expected.count(name)) << "exported but not listed: " << name;
        }
    }
}

} // namespace
