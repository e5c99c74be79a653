// The manager library exports exactly the functions of exports.txt, each as `name` and `_name`, and
// every one of them can be resolved.
#include <elf.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/module.h"

namespace {

std::vector<char> readFile(const char* path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Names of the functions that a 64-bit ELF shared library defines in its dynamic symbol table.
std::set<std::string> exportedFunctions(const std::vector<char>& image)
{
    std::set<std::string> names;
    if (image.size() < sizeof(Elf64_Ehdr))
        return names;
    Elf64_Ehdr header;
    std::memcpy(&header, image.data(), sizeof header);
    if (std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0 || header.e_ident[EI_CLASS] != ELFCLASS64)
        return names;
    std::vector<Elf64_Shdr> sections(header.e_shnum);
    if (header.e_shoff + sections.size() * sizeof(Elf64_Shdr) > image.size())
        return names;
    std::memcpy(sections.data(), image.data() + header.e_shoff, sections.size() * sizeof(Elf64_Shdr));
    for (const Elf64_Shdr& section : sections) {
        if (section.sh_type != SHT_DYNSYM || section.sh_link >= sections.size())
            continue;
        const Elf64_Shdr& strings = sections[section.sh_link];
        if (section.sh_offset + section.sh_size > image.size() || strings.sh_offset + strings.sh_size > image.size())
            continue;
        for (size_t at = 0; at + sizeof(Elf64_Sym) <= section.sh_size; at += sizeof(Elf64_Sym)) {
            Elf64_Sym symbol;
            std::memcpy(&symbol, image.data() + section.sh_offset + at, sizeof symbol);
            if (symbol.st_shndx == SHN_UNDEF || ELF64_ST_TYPE(symbol.st_info) != STT_FUNC ||
                symbol.st_name >= strings.sh_size)
                continue;
            const char* name = image.data() + strings.sh_offset + symbol.st_name;
            names.insert(std::string(name, strnlen(name, strings.sh_size - symbol.st_name)));
        }
    }
    return names;
}

std::vector<std::string> listedNames()
{
    std::ifstream in(MGR_EXPORTS_LIST);
    std::vector<std::string> names;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (!line.empty() && line[0] != '#')
            names.push_back(line);
    }
    return names;
}

TEST(MgrExportsTest, LibraryExportsTheListInBothSpellings)
{
    const std::vector<std::string> listed = listedNames();
    ASSERT_FALSE(listed.empty());
    std::set<std::string> expected;
    for (const std::string& name : listed) {
        expected.insert(name);
        expected.insert("_" + name);
    }
    EXPECT_EQ(expected.size(), 2 * listed.size()) << "a name is listed twice";

    const std::set<std::string> exported = exportedFunctions(readFile(MGR_LIBRARY_PATH));
    ASSERT_FALSE(exported.empty()) << "cannot read the dynamic symbols of " << MGR_LIBRARY_PATH;
    for (const std::string& name : expected)
        EXPECT_TRUE(exported.count(name)) << name << " is listed but not exported";
    for (const std::string& name : exported)
        EXPECT_TRUE(expected.count(name)) << name << " is exported but not listed";

    // Both spellings resolve to the same function.
    plat::Module library;
    ASSERT_TRUE(library.open(MGR_LIBRARY_PATH)) << library.error();
    for (const std::string& name : listed) {
        void* plain = library.symbol(name.c_str());
        EXPECT_NE(plain, nullptr) << name;
        EXPECT_EQ(library.symbol(("_" + name).c_str()), plain) << name;
    }
}

// The functions that the table only offers are not exported by name.
TEST(MgrExportsTest, TableOnlyEntriesAreNotExported)
{
    const std::set<std::string> exported = exportedFunctions(readFile(MGR_LIBRARY_PATH));
    for (const char* name : {"mgrGetConfigsDir", "mgrSetFrameSize", "tvkCtrlGetFrameID"}) {
        EXPECT_FALSE(exported.count(name)) << name;
        EXPECT_FALSE(exported.count(std::string("_") + name)) << name;
    }
}

} // namespace
