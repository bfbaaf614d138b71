#include "tests/support/tempdir.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace TestSupport {

CTempDir::CTempDir() : mPath("/tmp/tarv-test-XXXXXX")
{
    if (mkdtemp(mPath.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
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
    return {std::istreambuf_iterator<char>(in), {}};
}

} // namespace TestSupport
