#pragma once
// A quality-control configuration for the FLCD example meter, shared by the tests that
// flag its data: chl_ug_per_l (0.0073 per count above 48) is 7.3 at 1048 counts and 21.9
// at 3048, which is 14.6 above its neighbours' mean (a spike that fails); CDOM's counts
// stay flat.
namespace testsupport {

inline constexpr const char* kFlcdQcYaml =
    "streams:\n"
    "  chl_ug_per_l:\n"
    "    qartod:\n"
    "      gross_range_test: {suspect_span: [0, 20], fail_span: [0, 100]}\n"
    "      spike_test: {suspect_threshold: 10, fail_threshold: 12}\n"
    "      rate_of_change_test: {threshold: 5}\n"
    "  counts_cdom:\n"
    "    qartod:\n"
    "      flat_line_test: {tolerance: 1, suspect_threshold: 3, fail_threshold: 5}\n";

}  // namespace testsupport
