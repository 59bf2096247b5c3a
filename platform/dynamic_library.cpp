// dlopen/dlsym behind one owning handle. dlerror's text is per thread and
// read at once, so concurrent loads on other threads cannot change it.
#include "platform/dynamic_library.h"

#include <dlfcn.h>

#include <utility>

namespace lcx {
namespace {

std::string LoaderError(std::string fallback) {
  const char* text = dlerror();
  return text ? std::string(text) : fallback;
}

}  // namespace

DynamicLibrary::DynamicLibrary(DynamicLibrary&& other) noexcept
    : handle_(std::exchange(other.handle_, nullptr)),
      name_(std::move(other.name_)),
      error_(std::move(other.error_)) {}

DynamicLibrary& DynamicLibrary::operator=(DynamicLibrary&& other) noexcept {
  if (this != &other) {
    Close();
    handle_ = std::exchange(other.handle_, nullptr);
    name_ = std::move(other.name_);
    error_ = std::move(other.error_);
  }
  return *this;
}

DynamicLibrary::~DynamicLibrary() { Close(); }

DynamicLibrary DynamicLibrary::Open(std::initializer_list<const char*> names) {
  DynamicLibrary lib;
  for (const char* name : names) {
    dlerror();  // a stale message must not be taken for this call's
    if (void* handle = dlopen(name, RTLD_NOW | RTLD_LOCAL)) {
      lib.handle_ = handle;
      lib.name_ = name;
      lib.error_.clear();
      return lib;
    }
    if (!lib.error_.empty()) lib.error_ += "; ";
    lib.error_ += LoaderError(std::string(name) + ": cannot be loaded");
  }
  if (names.size() == 0) lib.error_ = "no library name given";
  return lib;
}

void* DynamicLibrary::Symbol(const char* symbol) {
  if (!handle_) {
    error_ = std::string("no library loaded to look up ") + symbol;
    return nullptr;
  }
  dlerror();
  void* address = dlsym(handle_, symbol);
  if (!address) error_ = LoaderError(std::string(symbol) + ": null address");
  return address;
}

void DynamicLibrary::Close() {
  if (handle_) dlclose(handle_);
  handle_ = nullptr;
  name_.clear();
}

}  // namespace lcx
