// The gRPC transport of the IPC host: owns the asynchronous server with its
// services and the client subscriptions, and runs the notification thread.
//
// Threads: the RunServer thread drives the server's completion queue;
// request handlers run on the handler pool, whose threads exist only while
// requests are served. The client subscriptions' calls run on a completion
// queue of their own, driven by a thread started with the first
// subscription. No gRPC callback API is used: its threads wake the process
// several times a second even when nothing happens.

#include "platform/ipc/grpcbackend.h"

#include "platform/ipc/grpc/clients.h"
#include "platform/ipc/grpc/completiontag.h"
#include "platform/ipc/grpc/handlerpool.h"
#include "platform/ipc/grpc/ipclimits.h"
#include "platform/ipc/grpc/ipclog.h"
#include "platform/ipc/grpc/servers.h"
#include "platform/ipc/grpc/socketfiles.h"
#include "platform/ipc/grpc/socketwatch.h"
#include "platform/ipc/grpc/subscription.h"
#include "platform/ipc/ipcconfiguration.h"
#include "proto/services.grpc.pb.h"

#include <grpcpp/grpcpp.h>

#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <stdexcept>
#include <thread>
#include <utility>
#include <vector>

using namespace IpcGrpc;

class GrpcBackend::CImpl {
public:
    CImpl(const std::string& path, std::shared_ptr<IIpcObserver> observer)
        : mConfiguration(path), mObserver(std::move(observer))
    {
    }

    const SIpcEndpoint& ServedEndpoint(const std::string& name)
    {
        const SIpcEndpoint& endpoint = mConfiguration.GetEndpoint(name);
        std::lock_guard lock(mMutex);
        if (mStarted) {
            throw std::logic_error("IPC service '" + name + "' added after StartServices");
        }
        if (mServiceNames.count(name) != 0) {
            throw std::logic_error("IPC service '" + name + "' added twice");
        }
        // Each service needs a socket of its own: clients address a service
        // by its socket, and a peer's configuration may move one of them.
        for (const auto& other : mServiceNames) {
            if (mConfiguration.GetEndpoint(other).socketPath == endpoint.socketPath) {
                throw std::runtime_error("IPC configuration file '" + mConfiguration.GetPath() + "' maps the services '" +
                                         other + "' and '" + name + "' to one socket '" + endpoint.socketPath +
                                         "'; give each service a socket of its own");
            }
        }
        mServiceNames.insert(name);
        return endpoint;
    }

    ~CImpl()
    {
        std::thread clientThread;
        {
            std::lock_guard lock(mDispatcher->mMutex);
            clientThread = std::move(mClientQueueThread);
        }
        // Every subscription was cancelled by Stop: their last operations
        // complete and the thread ends once the queue is empty.
        mClientQueue.Shutdown();
        if (clientThread.joinable()) {
            clientThread.join();
        } else {
            DrainQueue(mClientQueue);
        }
    }
    CImpl(const CImpl&) = delete;
    CImpl& operator=(const CImpl&) = delete;

    void Register(const SIpcEndpoint& endpoint, std::unique_ptr<IServedService> service)
    {
        std::lock_guard lock(mMutex);
        mServices.push_back(std::move(service));
        if (std::find(mSocketPaths.begin(), mSocketPaths.end(), endpoint.socketPath) == mSocketPaths.end()) {
            mSocketPaths.push_back(endpoint.socketPath);
        }
    }

    // Channels are shared by every host of the process and kept until it
    // ends, so that hosts created one after another reuse their connections.
    // The reconnect back-off of a channel grows to kMaxReconnectBackoff, which
    // keeps an absent peer from waking the process often; the peer's socket
    // appearing resets it (see CSocketWatch), so a peer that starts is linked
    // at once.
    std::shared_ptr<grpc::Channel> Channel(const SIpcEndpoint& endpoint)
    {
        mWatch.Watch(endpoint.socketPath);
        std::lock_guard lock(ChannelsMutex());
        auto& channel = Channels()[endpoint.address];
        if (!channel) {
            grpc::ChannelArguments arguments;
            arguments.SetInt(GRPC_ARG_INITIAL_RECONNECT_BACKOFF_MS, 100);
            arguments.SetInt(GRPC_ARG_MIN_RECONNECT_BACKOFF_MS, 100);
            arguments.SetInt(GRPC_ARG_MAX_RECONNECT_BACKOFF_MS, static_cast<int>(kMaxReconnectBackoff.count()));
            channel = grpc::CreateCustomChannel(endpoint.address, grpc::InsecureChannelCredentials(), arguments);
        }
        return channel;
    }

    static std::mutex& ChannelsMutex()
    {
        static std::mutex channelsMutex;
        return channelsMutex;
    }
    static std::map<std::string, std::shared_ptr<grpc::Channel>>& Channels()
    {
        // Deliberately never destroyed (see above), not even at exit. Guarded by ChannelsMutex().
        static auto* channels = new std::map<std::string, std::shared_ptr<grpc::Channel>>;
        return *channels;
    }

    static void ResetBackoff(const std::string& socketPath)
    {
        std::lock_guard lock(ChannelsMutex());
        const auto it = Channels().find("unix:" + socketPath);
        if (it != Channels().end()) {
            IpcGrpc::Log(ELevel::debug, "Socket '{}' appeared; connecting at once", socketPath);
            grpc::experimental::ChannelResetConnectionBackoff(it->second.get());
        }
    }

    void AddSubscription(std::shared_ptr<ISubscription> subscription)
    {
        std::lock_guard lock(mDispatcher->mMutex);
        if (!mClientQueueThread.joinable()) {
            mClientQueueThread = std::thread([this] {
                pthread_setname_np(pthread_self(), "ipc-client-cq");
                DrainQueue(mClientQueue);
            });
        }
        mSubscriptions.push_back(std::move(subscription));
        mDispatcher->Signal();
    }

    grpc::CompletionQueue& ClientQueue() { return mClientQueue; }

    void StartServices()
    {
        std::lock_guard lock(mMutex);
        if (mStarted || mStopped) {
            return;
        }
        if (mServices.empty()) {
            mStarted = true;
            return;
        }
        grpc::ServerBuilder builder;
        const auto group = mConfiguration.GetSocketGroup();
        std::vector<std::unique_ptr<CStagedSocket>> sockets;
        for (const auto& path : mSocketPaths) {
            PrepareSocketDirectory(path, group);
            RemoveStaleSocket(path);
            sockets.push_back(std::make_unique<CStagedSocket>(path, group));
            builder.AddListeningPort("unix:" + sockets.back()->BindPath(), grpc::InsecureServerCredentials());
        }
        for (const auto& service : mServices) {
            builder.RegisterService(&service->Service());
        }
        mServerQueue = builder.AddCompletionQueue();
        mServer = builder.BuildAndStart();
        if (!mServer) {
            std::string paths;
            for (const auto& path : mSocketPaths) {
                paths += (paths.empty() ? "'" : ", '") + path + "'";
            }
            throw std::runtime_error("cannot serve IPC on " + paths + " (see the IPC configuration file '" +
                                     mConfiguration.GetPath() + "')");
        }
        try {
            for (std::size_t i = 0; i < sockets.size(); ++i) {
                sockets[i]->Publish();
                mBoundPaths.push_back(mSocketPaths[i]);
                IpcGrpc::Log(ELevel::info, "Serving IPC on '{}'", mSocketPaths[i]);
            }
        } catch (const std::exception&) {
            mServer->Shutdown(std::chrono::system_clock::now());
            mServerQueue->Shutdown();
            DrainQueue(*mServerQueue);
            mServer.reset();
            mServerQueue.reset();
            for (const auto& path : mBoundPaths) {
                unlink(path.c_str());
            }
            mBoundPaths.clear();
            throw;
        }
        for (const auto& service : mServices) {
            service->Start(mServerQueue.get(), mPool);
        }
        mStarted = true;
        mStopChanged.notify_all();
    }

    // Drives the server's completion queue until Stop has shut it down.
    void RunServer()
    {
        std::unique_lock lock(mMutex);
        // Called before StartServices, it waits for the queue that creates.
        mStopChanged.wait(lock, [&] { return mStopped || mServerQueue; });
        if (mStopped || mQueueDriven) {
            mStopChanged.wait(lock, [&] { return mStopped; });
            return;
        }
        mQueueDriven = true;
        lock.unlock();
        DrainQueue(*mServerQueue);
        lock.lock();
        mQueueDrained = true;
        mStopChanged.notify_all();
    }

    void HandleClientNotifications()
    {
        std::unique_lock lock(mDispatcher->mMutex);
        for (;;) {
            if (mClientsStopped) {
                return;
            }
            while (!mDispatcher->mQueue.empty()) {
                auto delivery = std::move(mDispatcher->mQueue.front());
                mDispatcher->mQueue.pop_front();
                lock.unlock();
                try {
                    delivery();
                } catch (const std::exception& e) {
                    IpcGrpc::Log(ELevel::error, "A notification listener failed: {}", e.what());
                } catch (...) {
                    // Whatever a listener throws must not end this thread (and the process).
                    IpcGrpc::Log(ELevel::error, "A notification listener failed with an unknown exception");
                }
                lock.lock();
                if (mClientsStopped) {
                    return;
                }
            }
            const auto subscriptions = mSubscriptions;
            const std::uint64_t generation = mDispatcher->mGeneration;
            lock.unlock();
            auto next = Clock::time_point::max();
            const auto now = Clock::now();
            for (const auto& subscription : subscriptions) {
                subscription->StartIfDue(now);
                next = std::min(next, subscription->NextAttempt());
            }
            lock.lock();
            if (mClientsStopped || !mDispatcher->mQueue.empty() || mSubscriptions.size() != subscriptions.size() ||
                mDispatcher->mGeneration != generation) {
                continue;
            }
            lock.unlock();
            mDispatcher->Wait(next, mWatch.Fd());
            for (const auto& path : mWatch.Appeared()) {
                ResetBackoff(path);
            }
            lock.lock();
        }
    }

    void Stop()
    {
        bool driven = false;
        {
            std::lock_guard lock(mMutex);
            if (mStopped) {
                return;
            }
            mStopped = true;
            driven = mQueueDriven;
            mStopChanged.notify_all();
        }
        // The fields read below change no more once mStopped is set.
        for (const auto& service : mServices) {
            service->Close();
        }
        if (mServer) {
            // Cancels the calls still open after the grace, then waits for
            // the handlers to answer theirs; only then may the queue shut
            // down (no operation may start on a shut-down queue).
            mServer->Shutdown(std::chrono::system_clock::now() + kShutdownGrace);
            mPool.WaitIdle();
            mServerQueue->Shutdown();
            if (driven) {
                std::unique_lock lock(mMutex);
                mStopChanged.wait(lock, [&] { return mQueueDrained; });
            } else {
                DrainQueue(*mServerQueue);
            }
        }
        std::vector<std::shared_ptr<ISubscription>> subscriptions;
        {
            std::lock_guard lock(mDispatcher->mMutex);
            mClientsStopped = true;
            subscriptions = mSubscriptions;
            mDispatcher->Signal();
        }
        for (const auto& subscription : subscriptions) {
            subscription->Cancel();
        }
        // The calls' last callbacks refer to their subscriptions: wait for them.
        const auto deadline = Clock::now() + kShutdownGrace;
        for (const auto& subscription : subscriptions) {
            subscription->WaitIdle(deadline);
        }
        // Only the sockets this host bound: never those of another process.
        std::vector<std::string> bound;
        {
            std::lock_guard lock(mMutex);
            bound = mBoundPaths;
        }
        for (const auto& path : bound) {
            if (unlink(path.c_str()) == 0) {
                IpcGrpc::Log(ELevel::debug, "Removed socket '{}'", path);
            }
        }
    }

    CIpcConfiguration mConfiguration;
    std::shared_ptr<CClientDispatcher> mDispatcher = std::make_shared<CClientDispatcher>();
    const std::shared_ptr<IIpcObserver> mObserver;
    CSocketWatch mWatch; // used by the notification thread; Watch is thread-safe

private:
    mutable std::mutex mMutex; // guards every field below except those marked otherwise
    std::condition_variable mStopChanged;
    std::set<std::string> mServiceNames;
    // Written only before StartServices (services and socket paths) or by
    // it (server and queue); read after Stop set mStopped without the lock.
    std::vector<std::unique_ptr<IServedService>> mServices;
    std::vector<std::string> mSocketPaths;
    // The queue outlives the server, which is destroyed first.
    std::unique_ptr<grpc::ServerCompletionQueue> mServerQueue;
    std::unique_ptr<grpc::Server> mServer;
    std::vector<std::string> mBoundPaths; // the socket files this host created
    bool mStarted = false;
    bool mStopped = false;
    bool mQueueDriven = false;  // RunServer drives the server's queue
    bool mQueueDrained = false; // and has emptied it after Stop shut it down
    // Thread-safe itself; its tasks end before the queue shuts down.
    CHandlerPool mPool{kMaxRequestThreads};
    // Thread-safe itself; outlives every subscription's call.
    grpc::CompletionQueue mClientQueue;
    // Guarded by mDispatcher->mMutex.
    std::thread mClientQueueThread;
    std::vector<std::shared_ptr<ISubscription>> mSubscriptions;
    bool mClientsStopped = false;
};

void GrpcBackend::SetLogger(std::shared_ptr<Rpc::ILogger> logger)
{
    IpcGrpc::SetLogger(std::move(logger));
    InitializeGrpc();
}

std::shared_ptr<Rpc::ILogger> GrpcBackend::GetLogger()
{
    return IpcGrpc::GetLogger();
}

GrpcBackend::GrpcBackend(const std::string& configurationPath, std::shared_ptr<IIpcObserver> observer)
{
    InitializeGrpc();
    mImpl = std::make_shared<CImpl>(configurationPath, std::move(observer));
}

GrpcBackend::~GrpcBackend()
{
    Stop();
}

void GrpcBackend::StartServices()
{
    mImpl->StartServices();
}

void GrpcBackend::RunServer()
{
    mImpl->RunServer();
}

void GrpcBackend::HandleClientNotifications()
{
    mImpl->HandleClientNotifications();
}

void GrpcBackend::Stop()
{
    mImpl->Stop();
}

std::shared_ptr<IServer> GrpcBackend::AddProcessControlService(const std::string& name,
                                                               std::shared_ptr<IServedProcessControl> service)
{
    const SIpcEndpoint& endpoint = mImpl->ServedEndpoint(name);
    auto server = std::make_unique<CProcessControlServer>(name, service, mImpl->mObserver);
    auto* raw = server.get();
    IServedProcessControl::SSenders senders;
    // A notification sent after the host is gone is dropped instead of
    // touching freed memory (the service object outlives the host).
    std::weak_ptr<CImpl> weak = mImpl;
    senders.state = [weak, raw](const ipc::MState& state) {
        if (const auto impl = weak.lock()) {
            raw->SendState(state);
        }
    };
    senders.alive = [weak, raw] {
        if (const auto impl = weak.lock()) {
            raw->SendAlive();
        }
    };
    mImpl->Register(endpoint, std::move(server));
    // Only once it is registered: a refused service sends nothing.
    service->InstallSenders(std::move(senders));
    return std::make_shared<CNamedServer>(name);
}

std::shared_ptr<IServer> GrpcBackend::AddTarvService(const std::string& name, std::shared_ptr<IServedTarv> service)
{
    const SIpcEndpoint& endpoint = mImpl->ServedEndpoint(name);
    auto server = std::make_unique<CTarvServer>(name, service, mImpl->mObserver);
    auto* raw = server.get();
    IServedTarv::SSenders senders;
    std::weak_ptr<CImpl> weak = mImpl;
    senders.status = [weak, raw](const ipc::MNetStatus& status) {
        if (const auto impl = weak.lock()) {
            raw->SendStatus(status);
        }
    };
    senders.value = [weak, raw](float value) {
        if (const auto impl = weak.lock()) {
            raw->SendValue(value);
        }
    };
    mImpl->Register(endpoint, std::move(server));
    // Only once it is registered: a refused service sends nothing.
    service->InstallSenders(std::move(senders));
    return std::make_shared<CNamedServer>(name);
}

std::shared_ptr<IServer> GrpcBackend::AddLogConfigService(const std::string& name,
                                                          std::shared_ptr<Rpc::ILogConfig> service)
{
    const SIpcEndpoint& endpoint = mImpl->ServedEndpoint(name);
    mImpl->Register(endpoint, std::make_unique<CLogConfigServer>(name, std::move(service)));
    return std::make_shared<CNamedServer>(name);
}

std::shared_ptr<IServer> GrpcBackend::AddBoardControlService(const std::string& name,
                                                             std::shared_ptr<IBoardControl> service,
                                                             std::function<void()>& mainsLostSender)
{
    const SIpcEndpoint& endpoint = mImpl->ServedEndpoint(name);
    auto server = std::make_unique<CBoardControlServer>(name, std::move(service), mImpl->mObserver);
    auto* raw = server.get();
    std::weak_ptr<CImpl> weak = mImpl;
    mainsLostSender = [weak, raw] {
        if (const auto impl = weak.lock()) {
            raw->SendMainsLost();
        }
    };
    mImpl->Register(endpoint, std::move(server));
    return std::make_shared<CNamedServer>(name);
}

std::shared_ptr<IServer> GrpcBackend::AddDiagnosticsService(const std::string& name,
                                                            std::shared_ptr<IDiagnostics> service)
{
    const SIpcEndpoint& endpoint = mImpl->ServedEndpoint(name);
    mImpl->Register(endpoint, std::make_unique<CDiagnosticsServer>(name, std::move(service)));
    return std::make_shared<CNamedServer>(name);
}

std::shared_ptr<IClient<IGenericControl>> GrpcBackend::CreateProcessControlClient(
    const std::string& name, std::shared_ptr<IProcessControl> listener)
{
    const SIpcEndpoint& endpoint = mImpl->mConfiguration.GetEndpoint(name);
    auto stub = std::shared_ptr<ipc::TarvGenCtrl::Stub>(ipc::TarvGenCtrl::NewStub(mImpl->Channel(endpoint)));
    auto client = CProcessControlClient::Create<CProcessControlClient>(endpoint, stub);
    if (listener) {
        auto subscription = std::make_shared<CSubscription<ipc::TarvGenCtrl::Stub, ipc::MGenCtrlNotification>>(
            endpoint, stub, mImpl->ClientQueue(), mImpl->mDispatcher, [listener](const ipc::MGenCtrlNotification& notification) {
                if (notification.has_state()) {
                    listener->NotifyState(notification.state());
                } else if (notification.has_alive()) {
                    listener->NotifyAlive();
                }
            });
        client->SetSubscription(subscription);
        mImpl->AddSubscription(subscription);
    }
    return client;
}

std::shared_ptr<IClient<ITarv>> GrpcBackend::CreateTarvClient(const std::string& name,
                                                              std::shared_ptr<ITarvClient> listener)
{
    const SIpcEndpoint& endpoint = mImpl->mConfiguration.GetEndpoint(name);
    auto stub = std::shared_ptr<ipc::Tarv::Stub>(ipc::Tarv::NewStub(mImpl->Channel(endpoint)));
    auto client = CTarvClient::Create<CTarvClient>(endpoint, stub);
    if (listener) {
        auto subscription = std::make_shared<CSubscription<ipc::Tarv::Stub, ipc::MTarvNotification>>(
            endpoint, stub, mImpl->ClientQueue(), mImpl->mDispatcher, [listener](const ipc::MTarvNotification& notification) {
                if (notification.has_status()) {
                    listener->NotifyStatus(notification.status());
                } else if (notification.has_value()) {
                    listener->NotifyFloat(notification.value().value());
                }
            });
        client->SetSubscription(subscription);
        mImpl->AddSubscription(subscription);
    }
    return client;
}

std::shared_ptr<IClient<Rpc::ILogConfig>> GrpcBackend::CreateLogConfigClient(const std::string& name)
{
    const SIpcEndpoint& endpoint = mImpl->mConfiguration.GetEndpoint(name);
    auto stub = std::shared_ptr<ipc::TarvLog::Stub>(ipc::TarvLog::NewStub(mImpl->Channel(endpoint)));
    return CLogConfigClient::Create<CLogConfigClient>(endpoint, stub);
}

std::shared_ptr<IClient<IBoardControl>> GrpcBackend::CreateBoardControlClient(const std::string& name)
{
    const SIpcEndpoint& endpoint = mImpl->mConfiguration.GetEndpoint(name);
    auto stub = std::shared_ptr<ipc::BoardControl::Stub>(ipc::BoardControl::NewStub(mImpl->Channel(endpoint)));
    auto client = CBoardControlClient::Create<CBoardControlClient>(endpoint, stub);
    std::weak_ptr<CBoardControlClient> weak = client;
    auto subscription = std::make_shared<CSubscription<ipc::BoardControl::Stub, ipc::MBoardControlNotification>>(
        endpoint, stub, mImpl->ClientQueue(), mImpl->mDispatcher, [weak](const ipc::MBoardControlNotification& notification) {
            const auto target = weak.lock();
            if (target && notification.has_mainslost()) {
                target->NotifyMainsLost();
            }
        });
    client->SetSubscription(subscription);
    mImpl->AddSubscription(subscription);
    return client;
}

std::shared_ptr<IClient<IDiagnostics>> GrpcBackend::CreateDiagnosticsClient(const std::string& name)
{
    const SIpcEndpoint& endpoint = mImpl->mConfiguration.GetEndpoint(name);
    auto stub = std::shared_ptr<ipc::Diagnostics::Stub>(ipc::Diagnostics::NewStub(mImpl->Channel(endpoint)));
    return CDiagnosticsClient::Create<CDiagnosticsClient>(endpoint, stub);
}

#if defined(__SANITIZE_THREAD__)
// The gRPC and Abseil libraries of the system are not built with
// ThreadSanitizer, so the synchronisation inside them is invisible to it and
// every access they make to shared buffers looks like a race. Reports with a
// gRPC or Abseil frame in either stack are suppressed; races between two
// stacks of our own code are still reported. gRPC's own threads live until
// the process ends (the library is never shut down): not a leak.
extern "C" const char* __tsan_default_suppressions()
{
    return "called_from_lib:libgrpc.so\n"
           "called_from_lib:libgrpc++.so\n"
           "called_from_lib:libgpr.so\n"
           "race:libgrpc.so\n"
           "race:libgrpc++.so\n"
           "race:libgpr.so\n"
           "race:libabsl_\n"
           "race:/usr/include/grpcpp/\n"
           "race:/usr/include/grpc/\n"
           "thread:libgpr.so\n"
           "deadlock:libgrpc.so\n"
           "deadlock:libabsl_\n";
}
#endif
