#include "core/conversion_job.h"

void InputFileList::Set(const std::string& path, InputFileEntry entry) {
  for (Item& item : items_) {
    if (item.first == path) {
      item.second = std::move(entry);
      return;
    }
  }
  items_.emplace_back(path, std::move(entry));
}

const InputFileEntry* InputFileList::Find(const std::string& path) const {
  for (const Item& item : items_) {
    if (item.first == path) return &item.second;
  }
  return nullptr;
}
