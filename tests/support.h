// A scratch folder for tests that use real files, in both builds. Paths
// given to the program use backslashes; the host side reads them as
// folder separators.
#pragma once

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

namespace pm::test {

class ScratchDir {
public:
    ScratchDir() {
        std::random_device random;
        const auto base = std::filesystem::temp_directory_path();
        for (;;) {
            root_ = base / ("pictomap-test-" + std::to_string(random()));
            if (std::filesystem::create_directory(root_)) break;
        }
    }
    ~ScratchDir() {
        std::error_code ignored;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(root_, ignored))
            std::filesystem::permissions(entry.path(), std::filesystem::perms::owner_all,
                                         std::filesystem::perm_options::add, ignored);
        std::filesystem::remove_all(root_, ignored);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    // The folder as the program sees it, ending in a backslash.
    std::string Home() const { return root_.string() + "\\"; }
    // A path below the folder as the program sees it ("CFG\\PictoCfg.cfg").
    std::string Path(const std::string& relative) const { return Home() + relative; }
    // The same path for the test's own file access.
    std::filesystem::path Native(const std::string& relative) const {
        std::string r = relative;
        for (char& c : r)
            if (c == '\\') c = '/';
        return root_ / r;
    }
    void MakeDir(const std::string& relative) const { std::filesystem::create_directories(Native(relative)); }
    void Write(const std::string& relative, const std::string& bytes) const {
        std::ofstream out(Native(relative), std::ios::binary | std::ios::trunc);
        out << bytes;
    }
    std::string Read(const std::string& relative) const {
        std::ifstream in(Native(relative), std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    bool Exists(const std::string& relative) const { return std::filesystem::exists(Native(relative)); }
    void SetReadOnly(const std::string& relative, bool readOnly) const {
        std::filesystem::permissions(Native(relative), std::filesystem::perms::owner_write,
                                     readOnly ? std::filesystem::perm_options::remove
                                              : std::filesystem::perm_options::add);
    }
    std::size_t EntryCount() const {
        std::size_t n = 0;
        for (auto it = std::filesystem::recursive_directory_iterator(root_);
             it != std::filesystem::recursive_directory_iterator(); ++it)
            ++n;
        return n;
    }

private:
    std::filesystem::path root_;
};

}  // namespace pm::test
