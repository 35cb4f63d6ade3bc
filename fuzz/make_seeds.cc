// Writes the seed corpora of the index fuzz targets with the publisher's
// writers: make_seeds DIRECTORY (normally fuzz/corpus).
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "hosts/platform.h"
#include "publish/site_builder.h"

namespace {

void writeFile(const std::filesystem::path& path, const void* data, std::size_t size) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary).write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_seeds DIRECTORY\n");
    return 2;
  }
  const std::filesystem::path out = argv[1];
  auto crypto = vesmara::defaultPlatform().makeCryptoHost();
  const std::vector<vesmara::publish::SourceFile> sources = {
      {.name = "index.html", .mime = "text/html", .bytes = {'<', 'p', '>'}},
      {.name = "a/b.css", .mime = "text/css", .bytes = std::vector<std::uint8_t>(300, 'c')},
      {.name = "m.bin",
       .mime = "application/octet-stream",
       .bytes = std::vector<std::uint8_t>(100, 'm'),
       .members = true},
  };
  for (const bool external : {false, true}) {
    vesmara::publish::SiteOptions options;
    options.seed = 1;
    options.part_size = 64;
    options.carrier_count = 2;
    vesmara::SecretKey key;
    options.member_key = key;
    options.footer_version = external ? 1 : 2;
    if (external) options.external_index_path = "/assets/index.dat";
    vesmara::publish::BuiltSite site;
    vesmara::Failure failure;
    if (!vesmara::publish::buildSite(*crypto, sources, options, site, failure)) {
      std::fprintf(stderr, "make_seeds: %s\n", failure.message.c_str());
      return 1;
    }
    if (external) {
      writeFile(out / "key_material" / "key_file", site.key_file.data(), site.key_file.size());
      writeFile(out / "key_material" / "credential.ico", site.credential.data(), site.credential.size());
    } else {
      const auto& favicon = site.files.at("/favicon.ico");
      writeFile(out / "carrier_document" / "favicon_v2.ico", favicon.data(), favicon.size());
      // The document section is the favicon's tail before the footer: find it by its first bytes.
      const std::string text(favicon.begin(), favicon.end());
      const std::size_t start = text.find("{\"webApp\"");
      const std::size_t end = text.size() - 128;
      if (start != std::string::npos) writeFile(out / "index_document" / "site.json", text.data() + start, end - start);
    }
  }
  return 0;
}
