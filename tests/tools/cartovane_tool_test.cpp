#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct ToolRun {
    int status;
    std::string output;
};

ToolRun Tool(const std::string& args) {
    std::string command = std::string(CARTOVANE_TOOL_PATH) + " --library " + CARTOVANE_LIBRARY_PATH + " " + args + " 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    ToolRun run{-1, {}};
    if (!pipe) return run;
    std::array<char, 4096> buffer{};
    for (std::size_t n; (n = fread(buffer.data(), 1, buffer.size(), pipe)) > 0;) run.output.append(buffer.data(), n);
    run.status = pclose(pipe);
    return run;
}

TEST(CartovaneTool, ComponentsListsEveryRegisteredRow) {
    ToolRun run = Tool("components");
    ASSERT_EQ(run.status, 0) << run.output;
    std::istringstream lines(run.output);
    std::vector<std::string> rows;
    for (std::string line; std::getline(lines, line);)
        if (line.rfind("{", 0) == 0) rows.push_back(line);
    ASSERT_EQ(rows.size(), 31u) << run.output;
    struct Expect {
        const char* clsid;
        const char* progId;
        const char* description;
    } samples[] = {
        {"{9245E388-3F5E-67B0-7741-95B15E6E14E4}", "SDCartovane.QORImportExport", "Kelvarin: QORImportExport component"},
        {"{79921210-6978-11D6-9603-00D0B72E0719}", "SDCartovane.ChemistryXMLImportExport",
         "Kelvarin: Vintrell Chemistry XML ImportExport component"},
        {"{DAB0898A-A76D-4155-BF34-828C46FD8174}", "SDCartovane.XSDToMSDExport",
         "Kelvarin: Coarse-grained to mesoscale export"},
    };
    for (const Expect& e : samples) {
        bool found = false;
        for (const std::string& row : rows) {
            if (row.rfind(e.clsid, 0) != 0) continue;
            found = true;
            EXPECT_NE(row.find(std::string(" ") + e.progId + " "), std::string::npos) << row;
            EXPECT_EQ(row.substr(row.size() - std::string(e.description).size()), e.description) << row;
        }
        EXPECT_TRUE(found) << e.clsid;
    }
}

TEST(CartovaneTool, HelpAndBadUsage) {
    ToolRun help = Tool("--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.output.find("components"), std::string::npos);
    ToolRun bad = Tool("no-such-command");
    EXPECT_NE(bad.status, 0);
    EXPECT_NE(bad.output.find("unknown command"), std::string::npos);
}

TEST(CartovaneTool, MissingLibraryIsAClearError) {
    std::string command = std::string(CARTOVANE_TOOL_PATH) + " --library /nonexistent/libCartovane.so components 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::array<char, 1024> buffer{};
    std::string output;
    for (std::size_t n; (n = fread(buffer.data(), 1, buffer.size(), pipe)) > 0;) output.append(buffer.data(), n);
    EXPECT_NE(pclose(pipe), 0);
    EXPECT_NE(output.find("cannot load"), std::string::npos) << output;
}

}  // namespace
