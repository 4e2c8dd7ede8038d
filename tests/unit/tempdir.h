// SPDX-License-Identifier: MIT
// A fresh temporary directory per test, removed with everything in it.
#pragma once

#include <cstdlib>
#include <ftw.h>
#include <string>
#include <unistd.h>

class TempDir {
  public:
    TempDir() {
        char pattern[] = "/tmp/pacelag-test-XXXXXX";
        const char* made = mkdtemp(pattern);
        path_ = made ? made : "";
    }
    ~TempDir() {
        if (!path_.empty()) {
            nftw(
                path_.c_str(),
                [](const char* p, const struct stat*, int, struct FTW*) { return ::remove(p); }, 16,
                FTW_DEPTH | FTW_PHYS);
        }
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};
