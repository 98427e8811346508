#include "app/page_registry.h"

#include <algorithm>
#include <cstring>

namespace zorv::app {

namespace {
std::vector<RegisteredPage>& registry() {
  static std::vector<RegisteredPage> pages;
  return pages;
}
}  // namespace

PageRegistrar::PageRegistrar(int order, const char* title, PageFactory factory) {
  registry().push_back({order, title, factory});
}

std::vector<RegisteredPage> registeredPages() {
  std::vector<RegisteredPage> pages = registry();
  std::stable_sort(pages.begin(), pages.end(), [](const RegisteredPage& a, const RegisteredPage& b) {
    if (a.order != b.order) return a.order < b.order;
    return std::strcmp(a.title, b.title) < 0;
  });
  return pages;
}

}  // namespace zorv::app
