// Rounds of IPC abuse against a running daemon, while a board controller's
// state request runs every 100 ms on the process control service: many
// clients at once, a flood of requests, subscribers that never read,
// oversized and garbage requests, 1 ms deadlines and raw random bytes on the
// sockets. Prints per kind: tried / refused (a status that says why) /
// accepted / hang (no answer within 10 s), then how many state requests were
// answered. Exit 1 when a state request went unanswered, a call hung or the
// daemon stopped answering.
//
// usage: bench_ipcabuse GENCTRL_SOCKET TARV_SOCKET [ROUNDS]

#include <grpcpp/generic/generic_stub.h>
#include <grpcpp/grpcpp.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

constexpr auto kHang = 10s; // a call unanswered this long counts as hung

struct SCounts {
    int tried = 0, refused = 0, accepted = 0, hang = 0;
};

std::shared_ptr<grpc::Channel> Connect(const std::string& socket)
{
    grpc::ChannelArguments args;
    args.SetInt(GRPC_ARG_USE_LOCAL_SUBCHANNEL_POOL, 1); // a channel of its own: one more client
    args.SetMaxSendMessageSize(-1);
    return grpc::CreateCustomChannel("unix:" + socket, grpc::InsecureChannelCredentials(), args);
}

grpc::ByteBuffer Buffer(const std::string& bytes)
{
    grpc::Slice slice(bytes);
    return grpc::ByteBuffer(&slice, 1);
}

// Sends every request on the channels (round robin) at once and waits for
// all the answers.
void Batch(const std::vector<std::shared_ptr<grpc::Channel>>& channels, const std::string& method,
           const std::vector<std::string>& bodies, std::chrono::milliseconds deadline, SCounts& counts)
{
    struct SCall {
        grpc::ClientContext context;
        grpc::ByteBuffer response;
        grpc::Status status;
        std::unique_ptr<grpc::GenericClientAsyncResponseReader> reader;
    };
    grpc::CompletionQueue queue;
    std::vector<std::unique_ptr<SCall>> calls;
    for (std::size_t i = 0; i < bodies.size(); ++i) {
        auto call = std::make_unique<SCall>();
        call->context.set_deadline(std::chrono::system_clock::now() + deadline);
        grpc::GenericStub stub(channels[i % channels.size()]);
        call->reader = stub.PrepareUnaryCall(&call->context, method, Buffer(bodies[i]), &queue);
        call->reader->StartCall();
        call->reader->Finish(&call->response, &call->status, call.get());
        calls.push_back(std::move(call));
    }
    void* tag = nullptr;
    bool ok = false;
    for (std::size_t i = 0; i < calls.size() && queue.Next(&tag, &ok); ++i) {
        const auto& status = static_cast<SCall*>(tag)->status;
        ++counts.tried;
        if (status.ok()) {
            ++counts.accepted;
        } else if (status.error_code() == grpc::StatusCode::DEADLINE_EXCEEDED && deadline >= kHang) {
            ++counts.hang;
        } else {
            ++counts.refused;
        }
    }
    queue.Shutdown();
    while (queue.Next(&tag, &ok)) {
    }
}

// Subscribers that send their request and never read a notification, held
// for the time given, then cancelled.
void IdleSubscribers(const std::string& socket, int count, std::chrono::seconds hold, SCounts& counts)
{
    struct SStream {
        grpc::ClientContext context;
        grpc::Status status;
        std::unique_ptr<grpc::GenericClientAsyncReaderWriter> stream;
    };
    grpc::CompletionQueue queue;
    std::vector<std::unique_ptr<SStream>> streams;
    const auto channel = Connect(socket);
    grpc::GenericStub stub(channel);
    void* tag = nullptr;
    bool ok = false;
    for (int i = 0; i < count; ++i) {
        auto s = std::make_unique<SStream>();
        s->stream = stub.PrepareCall(&s->context, "/ipc.Tarv/Subscribe", &queue);
        // One operation at a time on a stream: the start, then the request.
        s->stream->StartCall(nullptr);
        queue.Next(&tag, &ok);
        if (ok) {
            s->stream->Write(Buffer(""), nullptr);
            queue.Next(&tag, &ok);
        }
        streams.push_back(std::move(s));
        ++counts.tried;
    }
    std::this_thread::sleep_for(hold);
    for (auto& s : streams) {
        s->context.TryCancel();
        s->stream->Finish(&s->status, s.get());
    }
    int finished = 0;
    while (finished < count && queue.Next(&tag, &ok)) {
        if (tag != nullptr) {
            ++finished;
            // Still open after the hold: the daemon kept it (and ends it, at
            // the latest, when the service is full).
            ++(static_cast<SStream*>(tag)->status.error_code() == grpc::StatusCode::CANCELLED ? counts.accepted
                                                                                               : counts.refused);
        }
    }
    queue.Shutdown();
    while (queue.Next(&tag, &ok)) {
    }
}

// Random bytes straight onto the socket, not even gRPC's framing.
void RawGarbage(const std::string& socket, std::mt19937& random, SCounts& counts)
{
    for (int i = 0; i < 20; ++i) {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, socket.c_str(), sizeof(address.sun_path) - 1);
        ++counts.tried;
        if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
            ++counts.refused;
        } else {
            std::string bytes(64 * 1024, '\0');
            for (auto& byte : bytes) {
                byte = static_cast<char>(random());
            }
            const bool written = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) > 0;
            ++(written ? counts.accepted : counts.refused);
        }
        if (fd >= 0) {
            ::close(fd);
        }
    }
}

std::string Random(std::mt19937& random, std::size_t size)
{
    std::string bytes(size, '\0');
    for (auto& byte : bytes) {
        byte = static_cast<char>(random());
    }
    return bytes;
}

// A repeated enum of COUNT unknown values (packed field 1).
std::string UnknownInterfaces(std::size_t count)
{
    std::string length;
    for (std::size_t n = count; ; n >>= 7) {
        length += static_cast<char>((n & 0x7f) | (n > 0x7f ? 0x80 : 0));
        if (n <= 0x7f) {
            break;
        }
    }
    return "\x0a" + length + std::string(count, '\x63');
}

void Round(const std::string& tarv, std::map<std::string, SCounts>& table)
{
    std::mt19937 random(1234);
    std::vector<std::shared_ptr<grpc::Channel>> many;
    for (int i = 0; i < 300; ++i) {
        many.push_back(Connect(tarv));
    }
    const std::vector<std::shared_ptr<grpc::Channel>> one{Connect(tarv)};
    Batch(many, "/ipc.Tarv/TriggerNotification", std::vector<std::string>(300, "\x0a\x01\x02"), kHang,
          table["300 clients at once"]);
    Batch(one, "/ipc.Tarv/TriggerNotification", std::vector<std::string>(2000, "\x0a\x01\x05"), kHang,
          table["flood of 2000"]);
    Batch(one, "/ipc.Tarv/TriggerNotification", {UnknownInterfaces(1'500'000), std::string(5 << 20, '\x0a')},
          kHang, table["oversized"]);
    std::vector<std::string> garbage;
    for (int i = 0; i < 200; ++i) {
        garbage.push_back(Random(random, 1 + random() % 4096));
    }
    Batch(one, "/ipc.Tarv/TriggerNotification", garbage, kHang, table["garbage messages"]);
    Batch(many, "/ipc.Tarv/TriggerNotification", std::vector<std::string>(300, "\x0a\x01\x01"), 1ms,
          table["1 ms deadlines"]);
    IdleSubscribers(tarv, 80, 3s, table["subscribers never reading"]);
    RawGarbage(tarv, random, table["raw random bytes"]);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3 || argc > 4) {
        std::fprintf(stderr, "usage: %s GENCTRL_SOCKET TARV_SOCKET [ROUNDS]\n", argv[0]);
        return 2;
    }
    const std::string genctrl = argv[1], tarv = argv[2];
    const int rounds = argc == 4 ? std::atoi(argv[3]) : 1;
    if (rounds < 1) {
        std::fprintf(stderr, "bench_ipcabuse: ROUNDS is a number of at least 1\n");
        return 2;
    }
    // The board controller: one state request every 100 ms, answered within 2 s.
    std::atomic<bool> stop{false};
    std::atomic<int> asked{0}, answered{0};
    std::thread board([&] {
        const auto channel = Connect(genctrl);
        while (!stop) {
            SCounts counts;
            Batch({channel}, "/ipc.TarvGenCtrl/GetState", {""}, 2000ms, counts);
            ++asked;
            answered += counts.accepted;
            std::this_thread::sleep_for(100ms);
        }
    });
    std::map<std::string, SCounts> table;
    for (int round = 0; round < rounds; ++round) {
        Round(tarv, table);
    }
    stop = true;
    board.join();
    SCounts total;
    std::printf("%-26s %8s %8s %9s %6s %6s\n", "IPC abuse", "tried", "refused", "accepted", "crash", "hang");
    for (const auto& [kind, c] : table) {
        std::printf("%-26s %8d %8d %9d %6s %6d\n", kind.c_str(), c.tried, c.refused, c.accepted, "-", c.hang);
        total.hang += c.hang;
    }
    SCounts last;
    Batch({Connect(genctrl)}, "/ipc.TarvGenCtrl/GetState", {""}, 5000ms, last);
    const bool alive = last.accepted == 1;
    std::printf("%-26s %8s %8s %9s %6d %6d\n", "all", "", "", "", alive ? 0 : 1, total.hang);
    std::printf("state requests of the board controller answered: %d of %d; daemon %s\n", answered.load(),
                asked.load(), alive ? "answering" : "NOT answering");
    return alive && total.hang == 0 && answered == asked ? 0 : 1;
}
