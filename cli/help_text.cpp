#include "help_text.h"

#include <sstream>
#include <vector>

namespace {

struct Page {
    const char *name;
    const char *summary;
    const char *synopsis;
    const char *description;
    const char *more;  // EXIT STATUS, ENVIRONMENT, EXAMPLES
};

const Page pages[] = {
    {"quorvane", "send HTTP requests and run API collections", "quorvane <command> [options]\n    quorvane --version",
     "Runs Postman v2.0/v2.1 collections and the engine's own collection files as newman does, sends single "
     "requests, converts collections and lists the request history.\n\n"
     "Commands:\n"
     "  run       run every request of a collection (newman's options)\n"
     "  request   send one request and print its body\n"
     "  import    convert a Postman collection into a collection file\n"
     "  export    convert a collection file into a Postman v2.1 collection\n"
     "  history   list the requests sent with quorvane request\n"
     "  help      show the manual of a command\n\n"
     "Run 'quorvane help <command>' for its manual.",
     "ENVIRONMENT\n"
     "    QUORVANE_HOME   directory of the history (history.json)\n"
     "    XDG_DATA_HOME   else the history is in $XDG_DATA_HOME/quorvane, else ~/.local/share/quorvane\n"
     "    NO_COLOR        when set to anything, no colour is ever written\n"},
    {"run", "run every request of a collection, as newman run does", "quorvane run <collection> [options]",
     "Sends every request of a Postman v2.0/v2.1 collection, or of a collection file of the engine's own format, "
     "in order, and reports each as it completes. The options are spelled as newman spells them, so a "
     "'newman run' line keeps working with the program's name changed; requests go out as newman builds them "
     "(URL encoding, inherited auth, body modes, {{$guid}} and the other dynamic variables).\n\n"
     "Variables: a -d row wins for its iteration over --env-var, which wins over the -e file, then the "
     "collection's variables, then -g and --global-var. Their values are percent-encoded where they land in a "
     "URL as newman encodes them.\n\n"
     "Pre-request and test scripts are not run; the run says once how many were skipped. A request fails when "
     "its transfer fails (no connection, time-out) or, with --assert-status, when its status is outside the list. "
     "The run records nothing in the history.",
     "EXIT STATUS\n"
     "    0  every request completed (and its status matched --assert-status)\n"
     "    1  a request failed, or a report could not be written\n"
     "    2  bad arguments, or a collection or variables file that cannot be read\n\n"
     "EXAMPLES\n"
     "    quorvane run coll.json -e env.json -r cli,junit --reporter-junit-export out.xml\n"
     "    quorvane run coll.json --folder Users --env-var baseUrl=http://127.0.0.1:8080 --assert-status 2xx,3xx\n"},
    {"request", "send one HTTP request and print the response body",
     "quorvane request [METHOD] <url> [options]",
     "Sends one request and writes the response body to standard output. A binary body (one that is not "
     "UTF-8 text) is written only with -o or when standard output is not a terminal. {{name}} placeholders "
     "in the URL, headers, body and --auth are filled from -e and --env-var, and {{$guid}}, {{$timestamp}} and "
     "the other dynamic variables are drawn afresh. The method defaults to GET, or POST when "
     "a body is given. The request (method, URL as typed, status) is recorded in the history unless "
     "--no-history is given; -i and --timing go to standard output and standard error respectively, so that "
     "a pipe gets the body alone.",
     "EXIT STATUS\n"
     "    0  the response arrived, whatever its status\n"
     "    1  the transfer failed, --query selected nothing, or -o could not be written\n"
     "    2  bad arguments, or a file that cannot be read\n\n"
     "EXAMPLES\n"
     "    quorvane request http://127.0.0.1:8080/users/42 --query $.name\n"
     "    quorvane request PUT {{base}}/items/7 --env-var base=http://127.0.0.1:8080 --json '{\"a\":1}' -i\n"},
    {"import", "convert a Postman collection into a collection file",
     "quorvane import <postman-file> -o <collection-file> [--variables-out <file>]",
     "Reads a Postman v2.0 or v2.1 collection the way 'quorvane run' does and writes it as a collection file of "
     "the engine's own format, which keeps everything the Postman file says (descriptions, scripts, saved "
     "responses, variables, folders, ids) for 'quorvane export' to write back, then prints what is kept but not "
     "acted on when requests are sent (scripts, settings) or rewritten, one line each. --variables-out also "
     "writes the collection's variables as an environment file for -e.",
     "EXIT STATUS\n"
     "    0  written\n"
     "    1  the output could not be written\n"
     "    2  bad arguments, or an input that cannot be read or is not a collection\n"},
    {"export", "convert a collection file into a Postman v2.1 collection",
     "quorvane export <collection-file> -o <postman-file>",
     "Writes a collection file of the engine's own format as a Postman v2.1 collection: what the Postman file it "
     "was imported from said, where it said it, and the requests added since in folders by their folder path; "
     "then prints the summary of the conversion.",
     "EXIT STATUS\n"
     "    0  written\n"
     "    1  the output could not be written\n"
     "    2  bad arguments, or an input that cannot be read or is not a collection file\n"},
    {"history", "list the requests sent with quorvane request", "quorvane history [--limit n] [--json]",
     "Lists the recorded requests, newest first: time, status (--- when none arrived), method and URL. At most "
     "500 are kept, in history.json in $QUORVANE_HOME, else $XDG_DATA_HOME/quorvane, else "
     "~/.local/share/quorvane.",
     "EXIT STATUS\n"
     "    0  listed\n"
     "    1  the history directory cannot be used\n"
     "    2  bad arguments\n"},
    {"help", "show the manual of a command", "quorvane help [command]", "Shows the manual of a command, or of the program.",
     ""},
};

void wrap(std::ostringstream &out, const std::string &text, std::size_t indent, std::size_t width = 80) {
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        // Lines that start with a space are laid out already (lists).
        if (line.empty() || line[0] == ' ') {
            out << std::string(line.empty() ? 0 : indent, ' ') << line << "\n";
            continue;
        }
        std::istringstream words(line);
        std::string word;
        std::size_t column = 0;
        while (words >> word) {
            if (column > 0 && column + 1 + word.size() > width - indent) {
                out << "\n";
                column = 0;
            }
            out << (column == 0 ? std::string(indent, ' ') : " ") << word;
            column += (column == 0 ? 0 : 1) + word.size();
        }
        out << "\n";
    }
}

std::string option_names(const CLI::Option *opt) {
    std::string names;
    for (const std::string &s : opt->get_snames()) names += (names.empty() ? "-" : ", -") + s;
    for (const std::string &l : opt->get_lnames()) names += (names.empty() ? "--" : ", --") + l;
    if (opt->get_expected_max() > 0 && !opt->get_type_name().empty()) names += " " + opt->get_type_name();
    return names;
}

}  // namespace

std::string manual_page(const CLI::App *app) {
    std::string name = app->get_name();
    const Page *page = &pages[0];
    for (const Page &p : pages) {
        if (name == p.name) page = &p;
    }
    std::string full = page == &pages[0] ? "quorvane" : std::string("quorvane ") + page->name;
    std::ostringstream out;
    out << "NAME\n    " << full << " - " << page->summary << "\n\nSYNOPSIS\n    " << page->synopsis << "\n\nDESCRIPTION\n";
    wrap(out, page->description, 4);
    std::vector<const CLI::Option *> options = app->get_options([](const CLI::Option *o) { return o->nonpositional(); });
    if (!options.empty()) {
        out << "\nOPTIONS\n";
        for (const CLI::Option *opt : options) {
            out << "    " << option_names(opt) << "\n";
            std::string text = opt->get_description();
            if (!text.empty()) wrap(out, text, 8);
        }
    }
    if (*page->more) out << "\n" << page->more;
    return out.str();
}
