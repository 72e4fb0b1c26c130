// Text helpers the test server's Graph operations share: REST IDs, query parameters, OData
// literals.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "tests/graph/graph_endpoint.h"

namespace oa::graph::testing {

// The REST ID of an entry ID (hex), and back; nullopt for text that is not one.
std::string RestId(const std::string& hex);
std::optional<std::string> HexOfRestId(const std::string& id);
// A query parameter of the call; empty when absent.
std::string Param(const GraphCall& c, const std::string& name);
// The quoted literals of an OData expression, quotes undoubled.
std::vector<std::string> Literals(const std::string& text);

}  // namespace oa::graph::testing
