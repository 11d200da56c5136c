#pragma once
// The fixed parameter tree: its 50 nodes in depth-first order (the absolute index, root = 0),
// each with its level and text. The main window's tree and grid and the command-line
// companion take every group and parameter name from this one table; the value of a
// parameter comes from RegisterMap's field of the same index (FieldOfNode).

#include <span>

// The root's text while the program's configuration may differ from the device's, and after.
inline constexpr const char *RootTextModified = "Карвен-12Т*";
inline constexpr const char *RootTextSaved = "Карвен-12Т";

struct TreeNodeDef {
    int Level;  // 0 root, 1 mode group, 2 parameter
    const char *Text;
};

constexpr int TreeNodeCount = 50;

// All nodes; the position is the node's absolute index.
std::span<const TreeNodeDef> TreeNodes();
// The absolute index of the group a parameter belongs to (the group's own for a group),
// or -1 for the root and an index outside the tree.
int GroupOfNode(int index);
