#include "handhelds/cleanup_hh.h"

#include "console/form.h"

namespace oa {

// Placeholder until the cleanup lands.
void CleanupHH(Form& form) {
  (void)form;
}

}  // namespace oa
