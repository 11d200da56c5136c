#pragma once
// What the editing of one parameter allows: the codes of a choice, the range and decimals
// of a number. The input dialogs take their bounds from here, and the command-line
// companion checks a configuration file against the same table.

enum class TEditKind {
    Choice,  // a code of the parameter's list (ValueText)
    Real,    // a real within Min..Max with at most Decimals decimals
    Whole,   // a whole number within Min..Max
};

struct TEditLimits {
    int Index;  // tree absolute index of the leaf
    TEditKind Kind;
    int Decimals;
    long double Min;
    long double Max;
};

// The limits of tree leaf `index`, or nullptr for the root, a group or an unknown index.
const TEditLimits *EditLimitsOf(int index);
