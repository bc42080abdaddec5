// velpack: makes and checks update packs ("UpdateData.dat") as the updater
// reads them.
#pragma once

// Header bytes 0 to 10 of every pack velpack makes. The updater never looks
// at them; they only tell a person with a hex dump who made the file.
#define VELPACK_FILLER "VELPACK 1.0"
#define VELPACK_FILLER_SIZE 11
// Tag byte for narrow (16-byte) name slots; wide slots use PACK_TAG_WIDE.
#define VELPACK_TAG_NARROW '1'

// Exit codes.
#define VELPACK_OK 0      // done; the pack checks out
#define VELPACK_FAILED 1  // refused, not found, unreadable, or a check failed
#define VELPACK_USAGE 2   // the command line is wrong

// Runs the tool as the command line says and returns its exit code.
int VelpackMain(int argc, char** argv);

// While set, everything the tool prints goes here instead of to stdout
// (toError 0) and stderr (toError 1). Null restores the streams.
typedef void (*VelpackPrintHook)(int toError, const char* text);
void VelpackSetPrintHook(VelpackPrintHook hook);
