#include "cli/cli_fixture.h"

const char *const shop_collection = R"json({
 "info": {"name": "Shop", "schema": "https://schema.getpostman.com/json/collection/v2.1.0/collection.json"},
 "variable": [{"key": "who", "value": "collection"}, {"key": "only_coll", "value": "c"}],
 "auth": {"type": "bearer", "bearer": [{"key": "token", "value": "{{token}}"}]},
 "item": [
  {"name": "Users", "item": [
    {"name": "List users", "request": {"method": "GET", "url": "{{base}}/users?who={{who}}&q=a b"},
     "event": [{"listen": "test", "script": {"exec": ["pm.test('ok', () => pm.response.to.have.status(200));"]}}]},
    {"name": "Admin", "item": [
      {"name": "Delete user", "request": {"method": "DELETE", "url": "{{base}}/users/7", "auth": {"type": "noauth"}}}]}]},
  {"name": "Orders", "item": [
    {"name": "Create order", "request": {"method": "POST", "url": "{{base}}/orders",
      "header": [{"key": "X-Trace", "value": "{{trace}}"}],
      "body": {"mode": "raw", "raw": "{\"sku\":\"{{sku}}\"}", "options": {"raw": {"language": "json"}}}}},
    {"name": "Fail", "request": {"method": "GET", "url": "{{base}}/fail"}}]},
  {"name": "Health", "request": {"method": "GET", "url": "{{base}}/health?c={{only_coll}}"}}
 ]})json";

const char *const shop_environment = R"json({"id": "e1", "name": "shop", "values": [
 {"key": "who", "value": "env", "enabled": true}, {"key": "sku", "value": "env-sku", "enabled": true},
 {"key": "trace", "value": "t1", "enabled": true}, {"key": "token", "value": "tk", "enabled": true},
 {"key": "only_coll", "value": "off", "enabled": false}], "_postman_variable_scope": "environment"})json";

CliTest::CliTest() {
    write_text(shop(), shop_collection);
    write_text(shop_env(), shop_environment);
    server_.route("/fail", [](const HttpRequest &) { return HttpReply(http_response(500, "{\"error\":1}")); });
    server_.set_default(http_response(200, "{\"ok\":true,\"name\":\"Ada\"}", "Content-Type: application/json\r\n"));
}
