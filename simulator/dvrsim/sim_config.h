// sim_config.h - the simulator's configuration keys: one grammar
// ("camera.analog.3.covert = 1") for the configuration file and for the
// set/get commands, parsed into byte patches of one record each and applied
// through the locked configuration accessors.
#ifndef SIM_CONFIG_H
#define SIM_CONFIG_H

#include <string>
#include <string_view>
#include <vector>

struct SimDevice;
struct SimKeyDef;

// Bytes to place at `offset` inside the record that a key addresses.
struct SimPatch {
    unsigned offset;                   // from the start of the record
    std::vector<unsigned char> bytes;  // in the device's native byte order
};

// One parsed "key = value": which record, and what to change in it.
struct SimAssignment {
    const SimKeyDef* key = nullptr;  // entry of the key table
    int index = 0;                   // record number, 0-based, for tabled records
    std::vector<SimPatch> patches;   // at most a few fields of that record
};

// Parses one key and its value. Returns false with a one-line reason in
// `err` (naming the key or the value) and leaves `out` unspecified.
bool sim_parse_assignment(std::string_view key, std::string_view value, SimAssignment& out,
                          std::string& err);

// Parses a whole configuration text ("key = value" lines, '#' comments,
// blank lines). Returns false when any line is bad; every bad line adds an
// "ORIGIN:LINE: reason" entry to `errors`. `out` gets the good lines in order.
bool sim_parse_config(std::string_view text, std::string_view origin,
                      std::vector<SimAssignment>& out, std::vector<std::string>& errors);

// Writes one assignment into the running device: reads the record through
// its locked accessor, patches it and writes it back. Returns false when an
// accessor reported a lock failure (the record may then be half-updated).
bool sim_apply(const SimDevice& dev, const SimAssignment& a);

// Formats the current value of `key` from the running device, in the form
// that `set` accepts. Returns false with a reason in `err` for a bad key.
bool sim_get(const SimDevice& dev, std::string_view key, std::string& value, std::string& err);

// Returns the enabled users of the running device as "name:password" lines
// (the web server's plain user file), in table order.
std::vector<std::string> sim_enabled_users(const SimDevice& dev);

// Returns the configuration compiled into the program (default.conf).
std::string_view sim_default_config();

#endif
