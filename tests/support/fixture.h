// Small helpers for tests: scratch folders, whole-file reads and writes,
// pack fixtures, and a recorder for message boxes.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "platform.h"

namespace fixture {

// A fresh empty folder that is the current directory for the test's life;
// the previous current directory comes back and the folder is removed after.
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    // The folder's absolute path in the platform's form ('\' on Windows).
    const std::string& path() const { return path_; }
    // path() + separator + name.
    std::string Join(const std::string& name) const;

private:
    std::string path_;
    std::string previous_;
};

// Paths here are relative to the current directory or absolute, in the
// native form; '\' is taken as a separator on every system.
bool WriteFile(const std::string& path, const std::string& bytes);
bool ReadFile(const std::string& path, std::string* bytes);
bool FileExists(const std::string& path);
bool MakeDir(const std::string& path);
bool SetReadOnly(const std::string& path, bool readOnly);

struct PackItem {
    std::string name;
    std::string data;
};

// Pack bytes: entries in the order given, data packed in that order.
// filler is header bytes 0 to 10.
std::string MakePack(const std::vector<PackItem>& items, bool wide,
                     const std::string& filler = "VELAPACK\x01\x00\x00");

// A pack written field by field, for layouts no honest writer makes.
struct RawEntry {
    std::string slot;  // copied into the slot, truncated or NUL-padded to it
    uint32_t offset;
    uint32_t size;
};
std::string MakeRawPack(char tag, uint32_t count, const std::vector<RawEntry>& entries,
                        uint32_t slotSize, const std::string& data);

// Records every message box while alive (and answers with `answer`).
struct MessageRecord {
    PlatWindow owner;
    std::string text;
    std::string caption;
    unsigned buttons;
};
class MessageRecorder {
public:
    explicit MessageRecorder(int answer = PLAT_IDOK);
    ~MessageRecorder();
    const std::vector<MessageRecord>& messages() const;
    void Clear();
};

// One fault to inject, for tables of failure cases: after `skip` good calls
// of op, the next one fails as given.
struct FaultCase {
    const char* what;
    PlatOp op;
    int skip;
    PlatFault fault;
};

// Clears every earlier fault and arms c for one call.
inline void Arm(const FaultCase& c) {
    PlatResetFaults();
    PlatSetFault(c.op, c.skip, 1, c.fault);
}

// Clears every injected fault when the test ends.
class FaultGuard {
public:
    FaultGuard() { PlatResetFaults(); }
    ~FaultGuard() { PlatResetFaults(); }
};

}  // namespace fixture
