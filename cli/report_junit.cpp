// The junit reporter: JUnit XML with a test suite per folder, a test case
// per request sent and a failure element for each failed request.
#include <ctime>
#include <map>
#include <vector>

#include <tinyxml2.h>

#include "report_file.h"
#include "run_report.h"

namespace {

// XML 1.0 allows no control characters but tab, newline and carriage return.
std::string xml_text(std::string_view s) {
    std::string out(s);
    for (char &c : out) {
        auto u = static_cast<unsigned char>(c);
        if (u < 0x20 && c != '\t' && c != '\n' && c != '\r') c = '?';
    }
    return out;
}

std::string seconds(double ms) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", ms / 1000.0);
    return text;
}

std::string iso_time(long long epoch_ms) {
    std::time_t secs = static_cast<std::time_t>(epoch_ms / 1000);
    std::tm tm{};
    gmtime_r(&secs, &tm);
    char text[96];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03lldZ", tm.tm_year + 1900, tm.tm_mon + 1,
                  tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, epoch_ms % 1000);
    return text;
}

struct Suite {
    std::string folder;
    std::vector<const Execution *> cases;
};

class JunitReporter final : public Reporter {
public:
    explicit JunitReporter(std::string path) : path_(std::move(path)), file_(open_report_file(path_, "JUnit report")) {}

    bool finish(const RunResult &run, std::string &why) override {
        // Suites in the order their folders first ran.
        std::vector<Suite> suites;
        std::map<std::string, std::size_t> index;
        for (const Execution &e : run.executions) {
            auto [it, added] = index.emplace(e.item->folder, suites.size());
            if (added) suites.push_back({e.item->folder, {}});
            suites[it->second].cases.push_back(&e);
        }

        tinyxml2::XMLDocument xml;
        xml.InsertEndChild(xml.NewDeclaration());
        tinyxml2::XMLElement *root = xml.NewElement("testsuites");
        xml.InsertEndChild(root);
        const std::string &collection = run.plan->collection_name;
        std::string timestamp = iso_time(run.started_ms);
        int all_tests = 0, all_failures = 0;
        double all_ms = 0;
        for (const Suite &suite : suites) {
            tinyxml2::XMLElement *s = xml.NewElement("testsuite");
            root->InsertEndChild(s);
            std::string classname = collection;
            if (!suite.folder.empty()) {
                std::string dotted = suite.folder;
                for (char &c : dotted) c = c == '/' ? '.' : c;
                classname += "." + dotted;
            }
            int failures = 0;
            double ms = 0;
            for (const Execution *e : suite.cases) {
                tinyxml2::XMLElement *c = xml.NewElement("testcase");
                s->InsertEndChild(c);
                std::string name = e->item->name;
                if (run.iterations > 1) name += " (iteration " + std::to_string(e->iteration + 1) + ")";
                c->SetAttribute("name", xml_text(name).c_str());
                c->SetAttribute("classname", xml_text(classname).c_str());
                c->SetAttribute("time", seconds(e->time_ms).c_str());
                ms += e->time_ms;
                if (!e->failed()) continue;
                ++failures;
                std::string message = failure_message(run, *e);
                tinyxml2::XMLElement *f = xml.NewElement("failure");
                c->InsertEndChild(f);
                f->SetAttribute("type", e->completed ? "StatusCheck" : "RequestError");
                f->SetAttribute("message", xml_text(message).c_str());
                f->SetText(xml_text(e->item->method + " " + e->url + "\n" + message).c_str());
            }
            s->SetAttribute("name", xml_text(suite.folder.empty() ? collection : suite.folder).c_str());
            s->SetAttribute("tests", static_cast<int>(suite.cases.size()));
            s->SetAttribute("failures", failures);
            s->SetAttribute("errors", 0);
            s->SetAttribute("skipped", 0);
            s->SetAttribute("timestamp", timestamp.c_str());
            s->SetAttribute("time", seconds(ms).c_str());
            all_tests += static_cast<int>(suite.cases.size());
            all_failures += failures;
            all_ms += ms;
        }
        root->SetAttribute("name", xml_text(collection).c_str());
        root->SetAttribute("tests", all_tests);
        root->SetAttribute("failures", all_failures);
        root->SetAttribute("errors", 0);
        root->SetAttribute("time", seconds(all_ms).c_str());

        bool written = xml.SaveFile(file_.get()) == tinyxml2::XML_SUCCESS;
        if (!written) why = "could not write the JUnit report '" + path_ + "'";
        return close_report_file(file_, path_, why) && written;
    }

private:
    std::string path_;
    FileHandle file_;
};

}  // namespace

std::unique_ptr<Reporter> make_junit_reporter(const std::string &path) {
    return std::make_unique<JunitReporter>(path);
}
