// What a built shared library offers and needs, read from its ELF64 file: the tests that pin the exported
// names and the dependencies of the suite's libraries use it.
#pragma once

#include <elf.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

namespace ombrel_test {

class ElfFile {
public:
    explicit ElfFile(const std::string& path)
    {
        std::ifstream in(path, std::ios::binary);
        bytes_.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        valid_ = bytes_.size() >= sizeof(Elf64_Ehdr) && std::memcmp(bytes_.data(), ELFMAG, SELFMAG) == 0 &&
                 bytes_[EI_CLASS] == ELFCLASS64;
        if (valid_)
            std::memcpy(&header_, bytes_.data(), sizeof header_);
    }

    // Functions the library exports (defined, global or weak, default visibility): name -> address.
    std::map<std::string, uint64_t> exportedFunctions() const
    {
        std::map<std::string, uint64_t> symbols;
        forEachEntry<Elf64_Sym>(SHT_DYNSYM, [&](const Elf64_Sym& sym, const Elf64_Shdr& strings) {
            const unsigned bind = ELF64_ST_BIND(sym.st_info);
            if (sym.st_shndx == SHN_UNDEF || ELF64_ST_TYPE(sym.st_info) != STT_FUNC ||
                (bind != STB_GLOBAL && bind != STB_WEAK) || ELF64_ST_VISIBILITY(sym.st_other) != STV_DEFAULT)
                return;
            if (const char* name = text(strings, sym.st_name))
                symbols[name] = sym.st_value;
        });
        return symbols;
    }

    // Every symbol that the library defines, from its dynamic table and, unless it was stripped, its full
    // symbol table (local symbols included), in mangled form.
    std::vector<std::string> definedSymbols() const
    {
        std::vector<std::string> symbols;
        for (const uint32_t table : {SHT_DYNSYM, SHT_SYMTAB})
            forEachEntry<Elf64_Sym>(table, [&](const Elf64_Sym& sym, const Elf64_Shdr& strings) {
                if (sym.st_shndx == SHN_UNDEF || sym.st_name == 0)
                    return;
                if (const char* name = text(strings, sym.st_name))
                    symbols.emplace_back(name);
            });
        return symbols;
    }

    // The DT_NEEDED entries: the libraries it links.
    std::vector<std::string> neededLibraries() const
    {
        std::vector<std::string> needed;
        forEachEntry<Elf64_Dyn>(SHT_DYNAMIC, [&](const Elf64_Dyn& entry, const Elf64_Shdr& strings) {
            if (entry.d_tag == DT_NEEDED)
                if (const char* name = text(strings, entry.d_un.d_val))
                    needed.emplace_back(name);
        });
        return needed;
    }

private:
    Elf64_Shdr section(size_t i) const
    {
        Elf64_Shdr s{};
        const size_t at = header_.e_shoff + i * header_.e_shentsize;
        if (at + sizeof s <= bytes_.size())
            std::memcpy(&s, bytes_.data() + at, sizeof s);
        return s;
    }

    // The zero-terminated text at offset of a string section, or null when it lies outside the file.
    const char* text(const Elf64_Shdr& strings, uint64_t offset) const
    {
        const uint64_t at = strings.sh_offset + offset;
        if (offset >= strings.sh_size || at >= bytes_.size() ||
            !std::memchr(bytes_.data() + at, 0, bytes_.size() - at))
            return nullptr;
        return bytes_.data() + at;
    }

    template <class Entry, class Fn> void forEachEntry(uint32_t type, Fn fn) const
    {
        if (!valid_)
            return;
        for (size_t i = 0; i < header_.e_shnum; ++i) {
            const Elf64_Shdr table = section(i);
            if (table.sh_type != type || table.sh_offset + table.sh_size > bytes_.size())
                continue;
            const Elf64_Shdr strings = section(table.sh_link);
            for (uint64_t at = table.sh_offset; at + sizeof(Entry) <= table.sh_offset + table.sh_size;
                 at += sizeof(Entry)) {
                Entry entry;
                std::memcpy(&entry, bytes_.data() + at, sizeof entry);
                fn(entry, strings);
            }
        }
    }

    std::vector<char> bytes_;
    Elf64_Ehdr header_{};
    bool valid_ = false;
};

// The names of an export list kept in the repository: one a line, '#' starts a comment line.
inline std::vector<std::string> readNameList(const std::string& path)
{
    std::ifstream in(path);
    std::vector<std::string> names;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (!line.empty() && line[0] != '#')
            names.push_back(line);
    }
    return names;
}

} // namespace ombrel_test
