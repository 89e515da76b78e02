// packdump: rebuilds the compressed dump of all templates, All-Templates.gz,
// from the production database of the current directory. Arguments are
// ignored; the exit status is always 0.
#include "admin/packdump/dump.h"

int main() {
  rebuild_dump();
  return 0;
}
