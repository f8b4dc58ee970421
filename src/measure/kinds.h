#pragma once
// Column-kind codes: what one tab-separated field of a data line holds.
// Kinds index the per-kind tables (60 entries each).

namespace measure {

constexpr int kMaxColumns = 60;  ///< fields in a data line, and entries in every per-kind table
constexpr int kMaxFieldChars = 223;

enum Kind : int {
  KindNone = 0,
  KindDate = 1,
  KindTime = 2,
  KindLambdaFirst = 7,   ///< backscatter signals 7..15 (5 + column)
  KindLambdaLast = 15,
  KindLambdaRefFirst = 16,  ///< their references 16..24 (14 + column)
  KindLambdaRefLast = 24,
  KindChl = 25,
  KindCdom = 26,
  KindUranine = 27,
  KindPhycocyanin = 28,
  KindPhycoerythrin = 29,
  KindRhodamine = 30,
  KindChlRef = 31,
  KindCdomRef = 32,
  KindUranineRef = 33,
  KindPhycocyaninRef = 34,
  KindPhycoerythrinRef = 35,
  KindRhodamineRef = 36,
  KindLss = 37,
  KindLssRef = 38,
  KindITemp = 39,
  KindXTemp = 40,
  KindPres = 41,
  KindRefOrUnused = 42,
  KindIEngr = 52,
  KindNtu = 53,
  KindNtuRef = 54,
};

inline bool isLambda(int k) { return k >= KindLambdaFirst && k <= KindLambdaLast; }
inline bool isValidKind(int k) { return k >= 0 && k < kMaxColumns; }

}  // namespace measure
