#pragma once

#include <json/json.h>

#include <memory>
#include <string>
#include <vector>

// Base of every command of the registry. A command is named, takes string
// arguments and describes itself for user interfaces. run() may be called
// from several threads at once (HTTP workers, the MQTT thread, the main
// loop), so commands keep no unguarded state of their own.
class Command {
public:
    class CommandArg {
    public:
        CommandArg(const std::string& n, const std::string& t, const std::string& d, bool o = false)
            : name(n), type(t), description(d), optional(o) {}

        std::string name;
        std::string type;  // "int", "string", "bool", "color", "range", ...
        std::string description;
        bool optional;
        std::string contentListUrl;  // relative to the local web server
        std::vector<std::string> contents;
        bool allowBlanks = false;
        int min = -1;
        int max = -1;  // the range is published only when min != max
        std::string defaultValue;
        std::string adjustableGetValueURL;
        bool adjustable = false;
    };

    // What run() gives back. Results are shared: a command whose work
    // finishes in the background keeps its own reference, so a caller that
    // stops waiting (or never waits) can let go at once. Text results carry
    // "text/plain".
    class Result {
    public:
        Result() : m_contentType("text/plain") {}
        explicit Result(const std::string& r, const std::string& contentType = "text/plain")
            : m_result(r), m_contentType(contentType) {}
        virtual ~Result() = default;

        virtual bool isDone() const { return true; }
        virtual bool isError() const { return false; }
        virtual std::string get() const { return m_result; }
        virtual std::string contentType() const { return m_contentType; }

    protected:
        std::string m_result;
        std::string m_contentType;
    };

    class ErrorResult : public Result {
    public:
        using Result::Result;
        bool isError() const override { return true; }
    };

    using ResultPtr = std::shared_ptr<Result>;

    explicit Command(const std::string& n) : name(n) {}
    Command(const std::string& n, const std::string& d) : name(n), description(d) {}
    virtual ~Command() = default;

    virtual Json::Value getDescription() const;
    // Hidden commands are left out of the full listing, still run and described by name.
    virtual bool hidden() const { return false; }
    virtual ResultPtr run(const std::vector<std::string>& args) = 0;

    const std::string name;
    std::vector<CommandArg> args;
    std::string description;
};
