#include "mailbox/basRDO.h"

namespace oa::basRDO {

// Placeholders until the property functions land.
int32_t GetNamedPropTag(mailbox::MAPIProp*, const mailbox::Variant&, int32_t propType,
                        const std::string&) {
  return propType;
}
std::vector<std::string> FindMessageIDs(const std::shared_ptr<mailbox::RDOFolder>&,
                                        const std::string&, const std::string&) {
  return {};
}
mailbox::Variant ConvertPropValue(const mailbox::Variant&, int32_t) {
  return {};
}
int32_t GetPropType(int32_t propTag) {
  return propTag & 0xFFFF;
}
std::string BinaryToHex(const mailbox::Variant&) {
  return "";
}

}  // namespace oa::basRDO
