#include "app/pictureconfig.h"

namespace pm {

void LoadConfiguration(LineList& configuration, const std::string& path) { configuration.ReadLines(path); }

void PrepareConfiguration(LineList& configuration) {
    configuration.SetDuplicatePolicy(DuplicatePolicy::Ignore);
    configuration.SortLines();
    configuration.SetSortedMode(true);
}

void MergePair(LineList& configuration, const std::string& address, const std::string& picturePath) {
    std::string line;
    line.reserve(address.size() + 1 + picturePath.size());
    line.append(address).append(1, '=').append(picturePath);
    configuration.MergeLine(line);
}

void SaveConfiguration(LineList& configuration, const std::string& path) { configuration.WriteLines(path); }

}  // namespace pm
