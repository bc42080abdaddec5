// Writes the seed corpora: packs made by the tests' own builder, and a few
// Install.ini files, one file per seed.
//   make_seeds <folder>   -> <folder>/pack_lookup/*, <folder>/save_folder/*
#include <stdio.h>

#include <string>
#include <vector>

#include "fixture.h"

namespace {

using fixture::MakePack;
using fixture::MakeRawPack;
using fixture::PackItem;
using fixture::RawEntry;

bool Put(const std::string& folder, const std::string& name, const std::string& bytes) {
    if (!fixture::WriteFile(folder + "/" + name, bytes)) {
        fprintf(stderr, "make_seeds: cannot write %s/%s\n", folder.c_str(), name.c_str());
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: make_seeds <folder>\n");
        return 2;
    }
    const std::string packs = std::string(argv[1]) + "/pack_lookup";
    const std::string inis = std::string(argv[1]) + "/save_folder";
    if (!fixture::MakeDir(packs) || !fixture::MakeDir(inis)) return 1;

    const std::vector<PackItem> update = {
        {"Archive.ini", "[archive]\r\ncount=3\r\n"},
        {"extend101.dat", std::string(300, '\x5A')},
        {"Instdata.pak", std::string("\x00\x01\x02\xFF", 4)},
    };
    const std::vector<PackItem> dupes = {
        {"ARCHIVE.INI", "first"}, {"archive.ini", "second"}, {"x", ""}};
    // Byte 0 of a pack is not read by the lookup; the fuzz target takes it as
    // a fault to inject, so 0x81 and 0xC5 arm a failing and a short read.
    bool ok = Put(packs, "wide3", MakePack(update, true)) &&
              Put(packs, "narrow3", MakePack(update, false)) &&
              Put(packs, "dupes", MakePack(dupes, true)) &&
              Put(packs, "zero-tag", MakePack(update, false, std::string(11, '\0'))) &&
              Put(packs, "read-fails", MakePack(update, true, "\x81")) &&
              Put(packs, "read-short", MakePack(update, false, "\xC5")) &&
              Put(packs, "empty", MakeRawPack('2', 0, {}, 32, "")) &&
              Put(packs, "short-header", std::string("VELAPACK\x01\x00\x00" "2\x01", 13)) &&
              Put(packs, "no-nul-slot",
                  MakeRawPack('1', 1, {{std::string(16, 'A'), 0, 4}}, 16, "data")) &&
              Put(packs, "past-end",
                  MakeRawPack('2', 1, {{"Archive.ini", 2, 100}}, 32, "tiny")) &&
              Put(packs, "huge-count",
                  MakeRawPack('2', 0x7FFFFFFF, {{"Archive.ini", 0, 1}}, 32, "z")) &&
              Put(packs, "dbcs-name",
                  MakePack({{"\x83\x5C" "Archive.ini", "sjis"}, {"Archive.ini", "plain"}}, true));

    ok = ok && Put(inis, "absolute", "save=D:\\Saves") && Put(inis, "relative", "save=saves") &&
         Put(inis, "line-end", "save=D:\\Saves\r\n") && Put(inis, "capital", "Save=D:\\Saves") &&
         Put(inis, "three", "sav") && Put(inis, "bare", "save=") &&
         Put(inis, "nul-inside", std::string("save=abc\0def", 12)) &&
         Put(inis, "long", "save=" + std::string(300, 'L')) &&
         Put(inis, "fits", "save=" + std::string(259, 'F')) &&
         Put(inis, "sjis", "save=C:\\\x83\x5C\x83\x74\x83\x67");
    return ok ? 0 : 1;
}
