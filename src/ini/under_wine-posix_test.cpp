#include "ini/under_wine_test.h"

namespace zelmo {

// Here the profile store is our own engine; Wine plays no part.
bool UnderWine() {
  return false;
}

unsigned AnsiCodePage() {
  return 1251;
}

}  // namespace zelmo
