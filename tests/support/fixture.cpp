#include "fixture.h"

#include <stdio.h>
#include <string.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace fixture {

namespace {

fs::path Native(const std::string& path) {
    std::string p = path;
#ifndef _WIN32
    for (char& c : p)
        if (c == '\\') c = '/';
#endif
    return fs::path(p);
}

std::vector<MessageRecord> g_messages;
int g_answer = PLAT_IDOK;

int RecordMessage(PlatWindow owner, const char* text, const char* caption, unsigned buttons) {
    g_messages.push_back(MessageRecord{owner, text ? text : "", caption ? caption : "", buttons});
    return g_answer;
}

void PutU32(std::string& out, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) out[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

}  // namespace

ScratchDir::ScratchDir() {
    std::error_code ec;
    previous_ = fs::current_path(ec).string();
    static std::atomic<unsigned> serial{0};
    auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    fs::path dir = fs::temp_directory_path(ec) /
                   ("vela-" + std::to_string(stamp) + "-" + std::to_string(serial++));
    fs::create_directories(dir, ec);
    fs::current_path(dir, ec);
    path_ = fs::current_path(ec).string();
}

ScratchDir::~ScratchDir() {
    std::error_code ec;
    fs::current_path(previous_, ec);
    // Read-only files would stop the removal on Windows.
    for (auto it = fs::recursive_directory_iterator(path_, ec); !ec && it != fs::end(it);
         it.increment(ec))
        fs::permissions(it->path(), fs::perms::owner_write, fs::perm_options::add, ec);
    fs::remove_all(path_, ec);
}

std::string ScratchDir::Join(const std::string& name) const {
#ifdef _WIN32
    return path_ + "\\" + name;
#else
    return path_ + "/" + name;
#endif
}

bool WriteFile(const std::string& path, const std::string& bytes) {
    FILE* f = fopen(Native(path).string().c_str(), "wb");
    if (!f) return false;
    bool ok = fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return fclose(f) == 0 && ok;
}

bool ReadFile(const std::string& path, std::string* bytes) {
    bytes->clear();
    FILE* f = fopen(Native(path).string().c_str(), "rb");
    if (!f) return false;
    char chunk[65536];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, f)) > 0) bytes->append(chunk, n);
    fclose(f);
    return true;
}

bool FileExists(const std::string& path) {
    std::error_code ec;
    return fs::exists(Native(path), ec);
}

bool MakeDir(const std::string& path) {
    std::error_code ec;
    fs::create_directories(Native(path), ec);
    return !ec;
}

bool SetReadOnly(const std::string& path, bool readOnly) {
    std::error_code ec;
    fs::permissions(Native(path), fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    readOnly ? fs::perm_options::remove : fs::perm_options::add, ec);
    return !ec;
}

std::string MakePack(const std::vector<PackItem>& items, bool wide, const std::string& filler) {
    uint32_t slot = wide ? 32 : 16;
    std::vector<RawEntry> entries;
    std::string data;
    for (const PackItem& item : items) {
        entries.push_back(RawEntry{item.name, static_cast<uint32_t>(data.size()),
                                   static_cast<uint32_t>(item.data.size())});
        data += item.data;
    }
    std::string pack = MakeRawPack(wide ? '2' : '1', static_cast<uint32_t>(items.size()), entries,
                                   slot, data);
    pack.replace(0, 11, (filler + std::string(11, '\0')).substr(0, 11));
    return pack;
}

std::string MakeRawPack(char tag, uint32_t count, const std::vector<RawEntry>& entries,
                        uint32_t slotSize, const std::string& data) {
    std::string out(16, '\0');
    out[11] = tag;
    PutU32(out, 12, count);
    for (const RawEntry& e : entries) {
        std::string slot = e.slot.substr(0, slotSize);
        slot.resize(slotSize, '\0');
        out += slot;
    }
    for (const RawEntry& e : entries) {
        std::string rec(8, '\0');
        PutU32(rec, 0, e.offset);
        PutU32(rec, 4, e.size);
        out += rec;
    }
    return out + data;
}

MessageRecorder::MessageRecorder(int answer) {
    g_messages.clear();
    g_answer = answer;
    PlatSetMessageHook(RecordMessage);
}

MessageRecorder::~MessageRecorder() {
    PlatSetMessageHook(nullptr);
    g_messages.clear();
}

const std::vector<MessageRecord>& MessageRecorder::messages() const { return g_messages; }

void MessageRecorder::Clear() { g_messages.clear(); }

}  // namespace fixture
