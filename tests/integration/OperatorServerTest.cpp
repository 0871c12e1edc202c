// The loopback operator server that the other integration tests lean on.

#include <gtest/gtest.h>
#include <httplib.h>

#include <regex>

#include "OperatorServer.h"

using namespace testing_support;

namespace {

std::string Package(size_t size) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<char>((i * 131) % 251);
    }
    return bytes;
}

}  // namespace

TEST(OperatorServerTool, ServesConfigurationPackagesRangesAndRecordsReports) {
    OperatorServer server;
    server.SetConfig("EntryUrl=http://127.0.0.1/page\nClientVersion=1.0.0.1\n");
    const std::string package = Package(300000);
    WriteFile(server.FilesDir() + "/zavo.zip", package);
    httplib::Client client("127.0.0.1", server.port());

    auto config = client.Get("/api/morvast/ditches/drevoline/client_config_drevoline.php");
    ASSERT_TRUE(config);
    EXPECT_EQ(config->body, "EntryUrl=http://127.0.0.1/page\nClientVersion=1.0.0.1\n");

    auto whole = client.Get("/files/zavo.zip");
    ASSERT_TRUE(whole);
    EXPECT_EQ(whole->status, 200);
    EXPECT_EQ(whole->body, package);

    auto tail = client.Get("/files/zavo.zip", {{"Range", "bytes=1000-"}});
    ASSERT_TRUE(tail);
    EXPECT_EQ(tail->status, 206);
    EXPECT_EQ(tail->get_header_value("Content-Range"), "bytes 1000-299999/300000");
    EXPECT_EQ(tail->body, package.substr(1000));

    auto beyond = client.Get("/files/zavo.zip", {{"Range", "bytes=300000-"}});
    ASSERT_TRUE(beyond);
    EXPECT_EQ(beyond->status, 416);

    ASSERT_TRUE(client.Get("/api/laucher_info.php?client_uid=a&os_version=x%7Cy&ac=create"));
    EXPECT_EQ(server.ReportQueries("/api/laucher_info.php"),
              std::vector<std::string>{"client_uid=a&os_version=x%7Cy&ac=create"});
    EXPECT_EQ(server.Requests().back(), "GET /api/laucher_info.php?client_uid=a&os_version=x%7Cy&ac=create range=-");
}

TEST(OperatorServerTool, RulesMakePathsMisbehaveForAsLongAsAsked) {
    OperatorServer server;
    const std::string package = Package(100000);
    WriteFile(server.FilesDir() + "/zavo.zip", package);
    httplib::Client client("127.0.0.1", server.port());

    server.SetRule("/files/zavo.zip", "cut=5000,times=1");
    std::string received;
    auto cut = client.Get("/files/zavo.zip", [&](const char* data, size_t n) {
        received.append(data, n);
        return true;
    });
    EXPECT_FALSE(cut);  // the connection closed short of the announced length
    EXPECT_EQ(received, package.substr(0, 5000));
    EXPECT_EQ(client.Get("/files/zavo.zip")->body, package);  // times=1 spent

    server.SetRule("/files/zavo.zip", "ignore-ranges");
    auto ignored = client.Get("/files/zavo.zip", {{"Range", "bytes=10-"}});
    EXPECT_EQ(ignored->status, 200);
    EXPECT_EQ(ignored->body.size(), package.size());

    server.SetRule("/a", "redirect=/b");
    server.SetRule("/b", "status=404");
    auto chained = client.Get("/a");
    EXPECT_EQ(chained->status, 302);
    EXPECT_EQ(chained->get_header_value("Location"), "/b");
    EXPECT_EQ(client.Get("/b")->status, 404);

    server.SetRule("/stalled", "stall");
    httplib::Client impatient("127.0.0.1", server.port());
    impatient.set_read_timeout(0, 300000);
    EXPECT_FALSE(impatient.Get("/stalled"));
    server.ClearRules();
    EXPECT_EQ(client.Get("/files/zavo.zip", {{"Range", "bytes=10-"}})->status, 206);
}

TEST(OperatorServerTool, DemoLoginAcceptsAnyNameWithTheDemoPasswordAndAnswersAFreshToken) {
    OperatorServer server;
    httplib::Client client("127.0.0.1", server.port());

    auto wrong = client.Post("/api/login", "name=player&password=secret", "application/x-www-form-urlencoded");
    ASSERT_TRUE(wrong);
    EXPECT_EQ(wrong->status, 401);
    EXPECT_NE(wrong->body.find("\"ok\":false"), std::string::npos);
    auto nameless = client.Post("/api/login", "name=&password=valdrune", "application/x-www-form-urlencoded");
    ASSERT_TRUE(nameless);
    EXPECT_EQ(nameless->status, 400);

    std::vector<std::string> tokens;
    for (const char* body : {"name=player&password=valdrune", "name=%E7%8E%A9%E5%AE%B6&password=valdrune"}) {
        auto accepted = client.Post("/api/login", body, "application/x-www-form-urlencoded");
        ASSERT_TRUE(accepted);
        EXPECT_EQ(accepted->status, 200);
        std::smatch m;
        ASSERT_TRUE(std::regex_match(accepted->body, m, std::regex(R"re(\{"ok":true,"token":"([0-9a-f]{32})"\})re")))
            << accepted->body;
        tokens.push_back(m[1]);
    }
    EXPECT_NE(tokens[0], tokens[1]);
}
