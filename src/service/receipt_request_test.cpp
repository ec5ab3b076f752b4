#include "service/receipt_request.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "receipt/loader.h"

namespace zelmo::service {
namespace {

namespace fs = std::filesystem;

// No question may reach an operator: the service has none.
class NoOperator : public Operator {
 public:
  std::vector<std::string> boxes;
  MsgAnswer MsgBox(const std::string& text, MsgStyle, const std::string&) override {
    boxes.push_back(text);
    return MsgAnswer::kNo;
  }
};

ReceiptRequest Accepted(std::string_view body, std::string_view delimiter = ";") {
  auto result = ParseReceiptRequest(body, delimiter);
  if (const auto* error = std::get_if<RequestError>(&result)) {
    ADD_FAILURE() << body << " refused: " << error->code << " " << error->message;
    return {};
  }
  return std::get<ReceiptRequest>(std::move(result));
}

RequestError Refused(std::string_view body, std::string_view delimiter = ";") {
  auto result = ParseReceiptRequest(body, delimiter);
  if (std::holds_alternative<ReceiptRequest>(result)) {
    ADD_FAILURE() << body << " accepted";
    return {};
  }
  return std::get<RequestError>(std::move(result));
}

std::string Body(const std::string& items) {
  return R"({"items": [)" + items + "]}";
}

std::string Item(const std::string& name, const std::string& quantity, const std::string& tax,
                 const std::string& price) {
  return R"({"name": )" + name + R"(, "quantity": )" + quantity + R"(, "taxGroup": )" + tax +
         R"(, "unitPrice": )" + price + "}";
}

// The job's run reads the receipt file with the one-shot program's own loader: what it reads must
// be exactly what the request was checked as.
class ReceiptFileTest : public testing::Test {
 protected:
  void SetUp() override {
    std::random_device random;
    dir_ = fs::temp_directory_path() / ("zelmo-request-" + std::to_string(random()));
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  void ExpectLoaderReadsBack(const ReceiptRequest& receipt, const std::string& delimiter) {
    const std::string path = (dir_ / "smetka.txt").string();
    std::ofstream(path, std::ios::binary) << ReceiptFileBytes(receipt, delimiter);
    JobState state;
    state.sDelimiter = delimiter;
    NoOperator op;
    ASSERT_EQ(LoadReceipt(path, state, op), LoadResult::kLoaded) << receipt.canonical;
    EXPECT_THAT(op.boxes, testing::IsEmpty());
    ASSERT_EQ(state.aItems.size(), receipt.items.size());
    for (std::size_t i = 0; i < receipt.items.size(); ++i) {
      const RequestItem& sent = receipt.items[i];
      const ReceiptItem& read = state.aItems[i];
      EXPECT_EQ(read.sName, sent.name) << i;
      EXPECT_EQ(read.dQuantity, sent.quantity) << i;
      EXPECT_EQ(read.sTaxCode, sent.taxGroup == "Б" ? "B" : sent.taxGroup) << i;
      EXPECT_EQ(read.dUnitPrice, sent.unitPrice) << i;
    }
    EXPECT_EQ(state.dTotal, receipt.total);
  }

  fs::path dir_;
};

TEST_F(ReceiptFileTest, TheLoaderReadsBackWhatWasChecked) {
  const std::string items = Item(R"("Млеко")", "2", R"("B")", "58.5") + "," +
                            Item(R"("Леб \"бел\" 500g")", "0.1", R"("Б")", "0.1") + "," +
                            Item(R"("x")", "1.0004", R"("A")", "19.999") + "," +
                            Item(R"("№€‰ ~\u007f\u0098")", "3.3330", R"("A")", "0.07") + "," +
                            Item(R"("y")", "9999999.999", R"("A")", "0.01") + "," +
                            Item(R"("z")", "0.001", R"("B")", "99999999.99");
  for (const std::string delimiter : {";", "|", "::", ",", "ab", "Ж"}) {
    SCOPED_TRACE(delimiter);
    const ReceiptRequest receipt = Accepted(Body(items), delimiter);
    ASSERT_EQ(receipt.items.size(), 6u);
    ExpectLoaderReadsBack(receipt, delimiter);
  }
}

// Values of every width the fields take: long quantities at small prices and the other way round,
// so that each item's amount, and the total, stay within the register's fields.
TEST_F(ReceiptFileTest, ManyAwkwardValuesReadBackExactly) {
  std::mt19937 random(20261211);
  std::uniform_real_distribution<double> longQuantity(0.001, 9999.999);
  std::uniform_real_distribution<double> smallPrice(0.01, 20);
  std::uniform_real_distribution<double> smallQuantity(0.001, 2);
  std::uniform_real_distribution<double> longPrice(0.01, 99999.99);
  std::string items;
  for (int i = 0; i < 300; ++i) {
    const bool longQuantities = i % 2 == 0;
    const double quantity = longQuantities ? longQuantity(random) : smallQuantity(random);
    const double price = longQuantities ? smallPrice(random) : longPrice(random);
    char text[128];
    std::snprintf(text, sizeof text,
                  R"({"name":"a%d","quantity":%.17g,"taxGroup":"A","unitPrice":%.17g})", i,
                  quantity, price);
    items += (i ? "," : "") + std::string(text);
  }
  ExpectLoaderReadsBack(Accepted(Body(items)), ";");
}

TEST_F(ReceiptFileTest, TheFileIsUtf8WithTheMarkAndOneLineAnItem) {
  const ReceiptRequest receipt = Accepted(Body(Item(R"("Млеко")", "2", R"("B")", "58.5") + "," +
                                               Item(R"("x")", "0.0005", R"("A")", "1e2")));
  EXPECT_EQ(ReceiptFileBytes(receipt, "|"), "\xEF\xBB\xBFМлеко|2|B|58.5\r\nx|0.001|A|100\r\n");
}

TEST(ReceiptRequest, ValuesAreRoundedAsTheLoaderRoundsThem) {
  const ReceiptRequest receipt = Accepted(Body(Item(R"("x")", "0.0025", R"("A")", "0.125") + "," +
                                               Item(R"("y")", "1.2344", R"("B")", "45.504")));
  ASSERT_EQ(receipt.items.size(), 2u);
  EXPECT_EQ(receipt.items[0].quantity, 0.003);  // halves away from zero
  EXPECT_EQ(receipt.items[0].unitPrice, 0.13);
  EXPECT_EQ(receipt.items[1].quantity, 1.234);
  EXPECT_EQ(receipt.items[1].unitPrice, 45.5);
  EXPECT_DOUBLE_EQ(receipt.total, 0.003 * 0.13 + 1.234 * 45.5);
}

TEST(ReceiptRequest, ALongNameIsCutAt40CharactersAsTheLoaderCutsIt) {
  std::string name;
  for (int i = 0; i < 45; ++i) name += "Ж";
  const ReceiptRequest receipt = Accepted(Body(Item('"' + name + '"', "1", R"("A")", "1")));
  ASSERT_EQ(receipt.items.size(), 1u);
  EXPECT_EQ(receipt.items[0].name, name.substr(0, 80));  // two bytes a letter
}

TEST(ReceiptRequest, TheSameReceiptWrittenOtherwiseHasTheSameCanonicalText) {
  const std::string plain = Accepted(Body(Item(R"("Млеко")", "2", R"("B")", "58.5"))).canonical;
  const std::vector<std::string> same = {
      "\n{ \"items\" :[ {\"unitPrice\":58.50,\"taxGroup\":\"B\",\"quantity\":2.0,"
      "\"name\":\"\\u041c\\u043b\\u0435\\u043a\\u043e\"} ] , \"note\": 1 }\t",
      Body(Item(R"("Млеко")", "2.0004", R"("B")", "58.499")),
      Body(Item(R"("Млеко")", "2e0", R"("B")", "5850e-2")),
  };
  for (const std::string& body : same) EXPECT_EQ(Accepted(body).canonical, plain) << body;

  const std::vector<std::string> other = {
      Body(Item(R"("Млеко ")", "2", R"("B")", "58.5")),
      Body(Item(R"("Млеко")", "2.001", R"("B")", "58.5")),
      Body(Item(R"("Млеко")", "2", R"("Б")", "58.5")),
      Body(Item(R"("Млеко")", "2", R"("B")", "58.51")),
      Body(Item(R"("Млеко")", "2", R"("B")", "58.5") + "," +
           Item(R"("Млеко")", "2", R"("B")", "58.5")),
  };
  for (const std::string& body : other) EXPECT_NE(Accepted(body).canonical, plain) << body;
}

struct RefusalCase {
  std::string body;
  int status;
  int item;
  std::string field;
  std::string code;
};

TEST(ReceiptRequest, RefusalsNameTheItemAndTheField) {
  const std::string ok = Item(R"("ok")", "1", R"("A")", "1");
  const std::string tooMany = [] {
    std::string items = R"({"name":"x","quantity":1,"taxGroup":"A","unitPrice":1})";
    for (int i = 0; i < 32760; ++i)
      items += R"(,{"name":"x","quantity":1,"taxGroup":"A","unitPrice":1})";
    return items;
  }();
  const RefusalCase cases[] = {
      {"", 400, -1, "", "invalid-json"},
      {"{\"items\": [", 400, -1, "", "invalid-json"},
      {"{\"items\": []} x", 400, -1, "", "invalid-json"},
      {"{\"items\": [{\"name\": \"\xC3\"}]}", 400, -1, "", "invalid-json"},  // not UTF-8
      {"[]", 400, -1, "", "invalid-body"},
      {"\"items\"", 400, -1, "", "invalid-body"},
      {"{}", 400, -1, "", "invalid-body"},
      {"{\"items\": {}}", 400, -1, "", "invalid-body"},
      {"{\"items\": []}", 422, -1, "items", "empty-receipt"},
      {Body(tooMany), 422, -1, "items", "too-many-items"},
      {Body(ok + ",7"), 422, 1, "", "wrong-type"},
      {Body(ok + R"(,{"quantity":1,"taxGroup":"A","unitPrice":1})"), 422, 1, "name",
       "missing-field"},
      {Body(Item("null", "1", R"("A")", "1")), 422, 0, "name", "missing-field"},
      {Body(Item("12", "1", R"("A")", "1")), 422, 0, "name", "wrong-type"},
      {Body(Item(R"("")", "1", R"("A")", "1")), 422, 0, "name", "empty-name"},
      {Body(Item(R"("a\tb")", "1", R"("A")", "1")), 422, 0, "name", "control-character"},
      {Body(Item(R"("a\u0000")", "1", R"("A")", "1")), 422, 0, "name", "control-character"},
      {Body(Item(R"("a\r\nb")", "1", R"("A")", "1")), 422, 0, "name", "control-character"},
      {Body(Item(R"("ч€α")", "1", R"("A")", "1")), 422, 0, "name", "not-in-code-page"},
      {Body(Item(R"("a😀")", "1", R"("A")", "1")), 422, 0, "name", "not-in-code-page"},
      {Body(Item(R"("a;b")", "1", R"("A")", "1")), 422, 0, "name", "delimiter-in-name"},
      {Body(ok + "," + Item(R"("x")", R"("1")", R"("A")", "1")), 422, 1, "quantity", "wrong-type"},
      {Body(Item(R"("x")", "true", R"("A")", "1")), 422, 0, "quantity", "wrong-type"},
      {Body(Item(R"("x")", "0", R"("A")", "1")), 422, 0, "quantity", "not-positive"},
      {Body(Item(R"("x")", "-0.0", R"("A")", "1")), 422, 0, "quantity", "not-positive"},
      {Body(Item(R"("x")", "-2", R"("A")", "1")), 422, 0, "quantity", "not-positive"},
      // Beyond a double: the JSON reader itself refuses the number.
      {Body(Item(R"("x")", "1e400", R"("A")", "1")), 400, -1, "", "invalid-json"},
      {Body(Item(R"("x")", "0.0004", R"("A")", "1")), 422, 0, "quantity", "rounds-to-zero"},
      {Body(Item(R"("x")", "10000000", R"("A")", "1")), 422, 0, "quantity", "out-of-range"},
      {Body(Item(R"("x")", "1", R"("C")", "1")), 422, 0, "taxGroup", "bad-tax-group"},
      {Body(Item(R"("x")", "1", R"("a")", "1")), 422, 0, "taxGroup", "bad-tax-group"},
      {Body(Item(R"("x")", "1", R"("AB")", "1")), 422, 0, "taxGroup", "bad-tax-group"},
      {Body(Item(R"("x")", "1", R"("")", "1")), 422, 0, "taxGroup", "bad-tax-group"},
      {Body(Item(R"("x")", "1", "1", "1")), 422, 0, "taxGroup", "bad-tax-group"},
      {Body(Item(R"("x")", "1", R"("A")", "0.004")), 422, 0, "unitPrice", "rounds-to-zero"},
      {Body(Item(R"("x")", "1", R"("A")", "-1")), 422, 0, "unitPrice", "not-positive"},
      {Body(Item(R"("x")", "1", R"("A")", "100000000")), 422, 0, "unitPrice", "out-of-range"},
      {Body(Item(R"("x")", "1", R"("A")", "99999999.999")), 422, 0, "unitPrice", "out-of-range"},
      {Body(Item(R"("x")", "1", R"("A")", "null")), 422, 0, "unitPrice", "missing-field"},
      {Body(Item(R"("x")", "2", R"("A")", "50000000")), 422, 0, "quantity", "out-of-range"},
      {Body(Item(R"("x")", "1", R"("A")", "60000000") + "," +
            Item(R"("x")", "1", R"("A")", "60000000")),
       422, -1, "items", "total-out-of-range"},
  };
  for (const RefusalCase& c : cases) {
    const RequestError error = Refused(c.body);
    SCOPED_TRACE(c.body.substr(0, 200));
    EXPECT_EQ(error.httpStatus, c.status);
    EXPECT_EQ(error.item, c.item);
    EXPECT_EQ(error.field, c.field);
    EXPECT_EQ(error.code, c.code);
    EXPECT_FALSE(error.message.empty());
  }
}

// Where the delimiter would cut an item's line anywhere but between its fields, the loader would
// read another receipt than the one checked.
TEST(ReceiptRequest, ADelimiterThatWouldCutAFieldIsRefused) {
  const struct {
    std::string delimiter;
    std::string item;
    std::string field;
  } cases[] = {
      {";;", Item(R"("ab;")", "1", R"("A")", "1"), "name"},
      {"0", Item(R"("ab")", "10", R"("A")", "1"), "quantity"},
      {".", Item(R"("ab")", "1", R"("A")", "2.5"), "unitPrice"},
      {"A", Item(R"("b")", "1", R"("A")", "1"), "taxGroup"},
      {"1", Item(R"("b")", "2", R"("A")", "31"), "unitPrice"},
  };
  for (const auto& c : cases) {
    const RequestError error = Refused(Body(c.item), c.delimiter);
    EXPECT_EQ(error.httpStatus, 422) << c.delimiter;
    EXPECT_EQ(error.field, c.field) << c.delimiter;
    EXPECT_EQ(error.code, "delimiter-in-field") << c.delimiter;
  }
}

TEST(ReceiptRequest, ADelimiterNoReceiptFileCanCarryIsTheRegistersFault) {
  for (const char* delimiter : {"", "\t", "\xC3"}) {
    const RequestError error = Refused(Body(Item(R"("x")", "1", R"("A")", "1")), delimiter);
    EXPECT_EQ(error.httpStatus, 500);
    EXPECT_EQ(error.code, "register-settings");
  }
}

}  // namespace
}  // namespace zelmo::service
