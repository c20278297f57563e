#include <cstdio>

int main() {
  std::puts("Quorvix 2.7");
  return 0;
}
