#include "tests/support/tempdir.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <vector>

namespace TestSupport {

CTempDir::CTempDir()
{
    std::string pattern = "/tmp/tarv-test-XXXXXX";
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    if (mkdtemp(buf.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    mPath = buf.data();
}

CTempDir::~CTempDir()
{
    std::error_code ec;
    std::filesystem::remove_all(mPath, ec);
}

void CTempDir::WriteFile(const std::string& relativePath, const std::string& content) const
{
    const std::filesystem::path p = std::filesystem::path(mPath) / relativePath;
    std::filesystem::create_directories(p.parent_path());
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out << content;
    if (!out) {
        throw std::runtime_error("cannot write " + p.string());
    }
}

std::string CTempDir::ReadFile(const std::string& relativePath) const
{
    std::ifstream in(std::filesystem::path(mPath) / relativePath, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

} // namespace TestSupport
