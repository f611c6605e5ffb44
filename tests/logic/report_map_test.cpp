#include <gtest/gtest.h>

#include "acquisition/report_map.h"

namespace {

TEST(ReportMap, ReportsSetTheirStatusAndNothingElseDoes)
{
    struct Row {
        unsigned message;
        bool isReport;
        int status;
    };
    const Row rows[] = {
        {1027, true, 1}, {1028, true, 2}, {1031, true, 2}, {1032, true, 3}, {1033, true, 3}, {1034, true, 3},
        // The unload notice, the requests and the messages around the range.
        {1025, false, 0}, {1026, false, 0}, {1029, false, 0}, {1030, false, 0}, {1024, false, 0},
        {1035, false, 0}, {0x0012 /* WM_QUIT */, false, 0}, {0, false, 0},
    };
    for (const Row& row : rows) {
        int status = -99;
        EXPECT_EQ(row.isReport, dovrikna::statusForReport(row.message, &status)) << row.message;
        EXPECT_EQ(row.isReport ? row.status : -99, status) << "message " << row.message;
    }
}

} // namespace
