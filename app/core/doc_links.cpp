#include "app/core/doc_links.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kMaxPath = 4096;

char16_t Fold(char16_t c) {
  return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c;
}

bool SameNoCase(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (Fold(a[i]) != Fold(b[i])) return false;
  return true;
}

bool IsSeparator(char16_t c) {
  return c == u'\\' || c == u'/';
}

std::vector<std::u16string> SplitElements(std::u16string_view path) {
  std::vector<std::u16string> out;
  std::u16string current;
  for (char16_t c : path) {
    if (IsSeparator(c)) {
      if (!current.empty()) out.push_back(std::move(current));
      current.clear();
    } else {
      current.push_back(c);
    }
  }
  if (!current.empty()) out.push_back(std::move(current));
  return out;
}

// An element that may be looked up inside a folder.
bool PlainElement(std::u16string_view e) {
  return !e.empty() && e != u"." && e != u".." && e.find(u':') == std::u16string_view::npos &&
         e.find(u'\0') == std::u16string_view::npos;
}

fs::path ToPath(std::u16string_view s) {
  return fs::path(std::u16string(s));
}

// The entry of folder named element: the exact spelling, else the one entry
// whose name matches without case (the first in name order when several do).
bool Child(const fs::path& folder, std::u16string_view element, fs::path* out) {
  std::error_code ec;
  fs::path exact = folder / ToPath(element);
  if (fs::exists(fs::symlink_status(exact, ec))) {
    *out = exact;
    return true;
  }
  std::vector<fs::path> hits;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const std::u16string name = it->path().filename().u16string();
    if (SameNoCase(name, element)) hits.push_back(it->path());
  }
  if (hits.empty()) return false;
  *out = *std::min_element(hits.begin(), hits.end());
  return true;
}

// folder + elements + name as an existing regular file inside folder.
std::u16string Lookup(const fs::path& folder, const std::vector<std::u16string>& elements,
                      std::u16string_view name) {
  if (!PlainElement(name)) return {};
  fs::path at = folder;
  for (const std::u16string& e : elements)
    if (!Child(at, e, &at)) return {};
  if (!Child(at, name, &at)) return {};
  std::error_code ec;
  if (!fs::is_regular_file(at, ec)) return {};  // folders, devices, sockets are not documents
  const fs::path real = fs::canonical(at, ec);
  if (ec) return {};
  const fs::path base = fs::canonical(folder, ec);
  if (ec) return {};
  // The real file must lie under the search folder.
  auto b = base.begin(), r = real.begin();
  for (; b != base.end(); ++b, ++r)
    if (r == real.end() || *b != *r) return {};
  const std::u16string found = at.u16string();
  return found.size() < kMaxPath ? found : std::u16string{};
}

std::u16string MakeIn(const fs::path& folder, const std::vector<std::u16string>& elements,
                      std::u16string_view name) {
  std::u16string hit = Lookup(folder, elements, name);
  if (!hit.empty()) return hit;
  std::u16string other(name);
  if (name.size() >= 5 && SameNoCase(name.substr(name.size() - 4), u".pdb"))
    other.resize(other.size() - 4);
  else
    other += u".pdb";
  return Lookup(folder, elements, other);
}

}  // namespace

std::vector<std::u16string> DocLinks_Candidates(std::u16string_view target) {
  std::vector<std::u16string> out;
  std::size_t i = 0;
  while (i < target.size()) {
    if (target[i] == u' ') {
      ++i;
      continue;
    }
    if (target[i] == u'"') {
      const std::size_t close = target.find(u'"', i + 1);
      const std::size_t end = close == std::u16string_view::npos ? target.size() : close;
      if (end > i + 1) out.emplace_back(target.substr(i + 1, end - i - 1));
      i = close == std::u16string_view::npos ? target.size() : close + 1;
      continue;
    }
    out.emplace_back(target.substr(i));
    break;
  }
  return out;
}

std::u16string DocLinks_MakeDocumentPath(std::u16string_view folder, std::u16string_view name) {
  if (folder.empty()) return {};
  return MakeIn(ToPath(folder), {}, name);
}

std::u16string DocLinks_FindDocument(std::u16string_view candidate, const DocLinkFolders& where) {
  std::vector<std::u16string> elements = SplitElements(candidate);
  if (elements.empty() || candidate.empty() || IsSeparator(candidate.back())) return {};
  const std::u16string name = elements.back();
  elements.pop_back();
  std::size_t ups = 0, skip = 0;
  for (; skip < elements.size(); ++skip) {
    if (elements[skip] == u".")
      continue;
    else if (elements[skip] == u"..")
      ++ups;
    else
      break;
  }
  elements.erase(elements.begin(), elements.begin() + static_cast<std::ptrdiff_t>(skip));
  for (const std::u16string& e : elements)
    if (!PlainElement(e)) return {};

  // The document's folder, moved up once per "..".
  fs::path base = ToPath(where.documentPath).parent_path();
  bool baseOk = !where.documentPath.empty();
  for (std::size_t i = 0; i < ups && baseOk; ++i) {
    if (base == base.root_path() || base.empty()) baseOk = false;
    base = base.parent_path();
  }
  if (baseOk) {
    std::u16string hit = MakeIn(base, elements, name);
    if (!hit.empty()) return hit;
  }
  if (where.documentsFolder.empty()) return {};
  const fs::path documents = ToPath(where.documentsFolder);
  // The documents folders are searched for the name alone.
  std::u16string hit = MakeIn(documents, {}, name);
  if (!hit.empty()) return hit;
  return MakeIn(documents / "Kelpo", {}, name);
}

std::u16string DocLinks_ResolveTarget(std::u16string_view target, const DocLinkFolders& where) {
  for (const std::u16string& candidate : DocLinks_Candidates(target)) {
    std::u16string hit = DocLinks_FindDocument(candidate, where);
    if (!hit.empty()) return hit;
  }
  return {};
}

std::u16string DocLinks_SaveAsName(std::u16string_view title) {
  std::u16string name(title.substr(0, std::min(title.size(), title.find_first_of(u"#%;/\\"))));
  const std::size_t dot = name.rfind(u'.');
  if (dot != std::u16string::npos) name.resize(dot);
  return name + u".txt";
}
