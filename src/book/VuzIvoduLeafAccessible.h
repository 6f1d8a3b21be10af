#pragma once

namespace velmora {

class VuzIvoduLeaf;

// Gives the leaf's painted texts to assistive technology: each is an element of the leaf with
// its name, identifier and place, read in order with the widgets of the writing area.
void installLeafAccessibility(VuzIvoduLeaf *leaf);

} // namespace velmora
