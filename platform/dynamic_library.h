// A shared library loaded at run time (dlopen), for optional dependencies the
// program must start without. Closed exactly once when the handle goes.
#pragma once

#include <initializer_list>
#include <string>

namespace lcx {

class DynamicLibrary {
 public:
  DynamicLibrary() = default;
  DynamicLibrary(const DynamicLibrary&) = delete;
  DynamicLibrary& operator=(const DynamicLibrary&) = delete;
  DynamicLibrary(DynamicLibrary&& other) noexcept;
  DynamicLibrary& operator=(DynamicLibrary&& other) noexcept;
  ~DynamicLibrary();

  // Loads the first of `names` the dynamic loader finds, trying them in
  // order (symbols resolved now, kept local). Empty when none loads; error()
  // then holds the loader's reason for every name, joined by "; ".
  static DynamicLibrary Open(std::initializer_list<const char*> names);

  // Address of `symbol`, or null with the loader's reason in error().
  void* Symbol(const char* symbol);

  bool is_open() const { return handle_ != nullptr; }
  explicit operator bool() const { return is_open(); }
  const std::string& name() const { return name_; }    // the name that loaded
  const std::string& error() const { return error_; }  // the last failure
  void Close();

 private:
  void* handle_ = nullptr;
  std::string name_;
  std::string error_;
};

}  // namespace lcx
