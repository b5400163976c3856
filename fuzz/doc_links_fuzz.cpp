// Link targets from documents against a small folder tree: any file found
// lies inside the tree's search folders, and nothing crashes or hangs. The
// link rules are front-end code without Qt, compiled into this target.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "app/core/doc_links.cpp"

namespace {

struct Tree {
  std::filesystem::path root;
  DocLinkFolders where;
  Tree() {
    root =
        std::filesystem::temp_directory_path() / ("kelpo_links_fuzz_" + std::to_string(getpid()));
    std::filesystem::create_directories(root / "top/lib/books/Sub");
    std::filesystem::create_directories(root / "top/docs/Kelpo");
    for (const char* f : {"top/lib/books/current.pdb", "top/lib/books/Sub/Deep.PDB",
                          "top/lib/x.pdb", "top/docs/d", "top/docs/Kelpo/k.pdb", "outside.pdb"})
      std::ofstream(root / f) << "x";
    std::filesystem::create_symlink(root / "outside.pdb", root / "top/lib/books/link.pdb");
    where.documentPath = (root / "top/lib/books/current.pdb").u16string();
    where.documentsFolder = (root / "top/docs").u16string();
  }
  ~Tree() {
    std::error_code ec;
    std::filesystem::remove_all(root, ec);
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Tree tree;
  if (size > 512) return 0;
  std::u16string target;
  for (std::size_t i = 0; i < size; ++i) {
    // ASCII stays; other bytes map onto the characters that matter to paths.
    static constexpr char16_t kAlphabet[] = u"./\\\" :pdbPDBxXkKdDeEpSsuUblLiIrtTcn\0";
    target.push_back(data[i] < 0x80
                         ? static_cast<char16_t>(data[i])
                         : kAlphabet[data[i] % (sizeof kAlphabet / sizeof kAlphabet[0] - 1)]);
  }
  const std::u16string hit = DocLinks_ResolveTarget(target, tree.where);
  if (!hit.empty()) {
    const std::filesystem::path real = std::filesystem::canonical(std::filesystem::path(hit));
    // Only ".." elements at the start may climb, and at most to the tree's
    // top, since the document sits three folders down from the root.
    const std::u16string r = real.u16string();
    const std::u16string top = (tree.root / "top").u16string();
    const std::u16string outside = (tree.root / "outside.pdb").u16string();
    if (r.rfind(top, 0) != 0 && r != outside) std::abort();
    // The link inside books points outside it: never taken.
    if (std::filesystem::path(hit).filename() == "link.pdb") std::abort();
  }
  return 0;
}
