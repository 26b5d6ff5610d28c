// The view model's state, navigation, thread operations and tier, and the busy state's one
// meaning across them.

#include "ui/chat_view_model.h"

#include "ui/view_model_fixture.h"

namespace corvane::testing {
namespace {

class ChatViewModelTest : public ViewModelTest {
protected:
    ConversationStore& store() { return controller_->conversationStore(); }
    std::string thread(const std::optional<std::string>& project, const std::string& message = "hello") {
        const auto id = store().createThread(project).currentThreadID;
        store().append(ConversationRole::user, message, id);
        store().append(ConversationRole::assistant, "reply to " + message, id);
        return id;
    }
    // A turn in the open chat whose reply is being revealed.
    void revealInProgress() {
        model().sendMessage("Mix it");
        finish(std::string(100, 'x'));
        advance(ChatViewModel::kRevealInterval);
        ASSERT_EQ(model().streamingText(), std::string(10, 'x'));
        ASSERT_TRUE(model().isBusy());
    }
};

TEST_F(ChatViewModelTest, TierIsReadOnceAndWrittenOnEveryAssignment) {
    struct Case {
        std::optional<std::string> stored;
        ModelTier expected;
    };
    for (const auto& c : std::vector<Case>{{std::nullopt, ModelTier::standard},
                                           {"pro", ModelTier::pro},
                                           {"Pro", ModelTier::standard},
                                           {"standard", ModelTier::standard},
                                           {"gold", ModelTier::standard}}) {
        model_.reset();
        std::filesystem::remove(defaults_.file());
        if (c.stored) defaults_.setString(ChatViewModel::kModelTierKey, *c.stored);
        EXPECT_EQ(model().selectedModelTier(), c.expected) << c.stored.value_or("(none)");
    }
    // Picking the tier already selected still stores it, and tells no observer.
    std::filesystem::remove(defaults_.file());
    int notified = 0;
    model().addObserver([&](ChatViewModel::Field f) { notified += f == ChatViewModel::Field::selectedModelTier; });
    model().setSelectedModelTier(ModelTier::standard);
    EXPECT_EQ(defaults_.string(ChatViewModel::kModelTierKey), "standard");
    EXPECT_EQ(notified, 0);
    model().setSelectedModelTier(ModelTier::pro);
    EXPECT_EQ(JSONFileUserDefaults().string(ChatViewModel::kModelTierKey), "pro");
    EXPECT_EQ(notified, 1);
}

TEST_F(ChatViewModelTest, FreshInstallShowsTheDetectedProjectsEmptyPage) {
    model().loadConversations();
    EXPECT_TRUE(model().currentThreadID().empty());
    EXPECT_TRUE(model().threads().empty());
    EXPECT_TRUE(model().entries().empty());
    EXPECT_EQ(model().navigation(), NavigationState::projectPage(std::string("Demo Song")));
}

TEST_F(ChatViewModelTest, ProjectNamesAndThreadsFollowTheStoredProjects) {
    const auto loose = thread(std::nullopt);
    const auto other = thread(std::string("Other Song"));
    const auto demo1 = thread(std::string("Demo Song"));
    const auto demo2 = thread(std::string("Demo Song"), "second");
    model().loadConversations();

    EXPECT_EQ(model().projectNames(), (std::vector<std::string>{"Demo Song", "Other Song"}));
    const auto demo = model().threadsForProject(std::string("Demo Song"));
    ASSERT_EQ(demo.size(), 2u);
    EXPECT_EQ(demo[0].threadID, demo2);  // the store's order, newest first
    EXPECT_EQ(demo[1].threadID, demo1);
    ASSERT_EQ(model().threadsForProject(std::nullopt).size(), 1u);
    EXPECT_EQ(model().threadsForProject(std::nullopt)[0].threadID, loose);

    // The page of no project has no project even while one is detected; a chat without a
    // project falls back to the detected one.
    model().setNavigation(NavigationState::projectPage(std::nullopt));
    EXPECT_EQ(model().currentProjectName(), std::nullopt);
    model().setNavigation(NavigationState::chat(loose));
    EXPECT_EQ(model().currentProjectName(), "Demo Song");
    model().setNavigation(NavigationState::chat(other));
    EXPECT_EQ(model().currentProjectName(), "Other Song");
}

// Clear asks as Delete does, and a Cancel keeps every entry.
TEST_F(ChatViewModelTest, ClearingAChatAsksFirst) {
    const auto chat = thread(std::string("Demo Song"), "Check the mix balance");
    model().loadConversations();
    model().switchConversation(chat);
    model().setNavigation(NavigationState::chat(chat));
    std::vector<ViewModelAlert> asked;
    std::size_t answer = 1;  // Cancel
    model().setAlertPresenter([&](const ViewModelAlert& alert) {
        asked.push_back(alert);
        return answer;
    });
    model().requestClearConversation();
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].messageText, "Clear \"Check the mix balance\"?");
    EXPECT_EQ(asked[0].informativeText, "Every message in this chat will be removed. This can't be undone.");
    EXPECT_EQ(asked[0].buttons, (std::vector<std::string>{"Clear", "Cancel"}));
    EXPECT_EQ(asked[0].destructiveButton, 0u);
    EXPECT_EQ(model().entries().size(), 2u);
    answer = 0;
    model().requestClearConversation();
    EXPECT_TRUE(model().entries().empty());
    EXPECT_EQ(model().statusMessage(), "Cleared.");
}

TEST_F(ChatViewModelTest, DeletingTheOpenThreadShowsItsProjectAndAnotherLeavesTheChatOpen) {
    const auto loose = thread(std::nullopt);
    const auto other = thread(std::string("Other Song"));
    const auto kept = thread(std::string("Demo Song"));
    model().loadConversations();

    std::vector<ViewModelAlert> asked;
    model().setAlertPresenter([&](const ViewModelAlert& alert) {
        asked.push_back(alert);
        return std::size_t{1};  // Cancel
    });
    model().requestDeleteThread("no-such-thread");
    model().requestDeleteThread(other);
    ASSERT_EQ(asked.size(), 2u);
    EXPECT_EQ(asked[0].messageText, "Delete \"this chat\"?");
    EXPECT_EQ(asked[1].informativeText, "This can't be undone.");
    EXPECT_EQ(asked[1].buttons, (std::vector<std::string>{"Delete", "Cancel"}));
    EXPECT_EQ(asked[1].destructiveButton, 0u);
    EXPECT_EQ(model().threads().size(), 3u);

    // Not the open one: the chat stays.
    model().switchConversation(kept);
    model().setNavigation(NavigationState::chat(kept));
    model().setAlertPresenter([](const ViewModelAlert&) { return std::size_t{0}; });
    model().requestDeleteThread(other);
    EXPECT_EQ(model().threads().size(), 2u);
    EXPECT_EQ(model().navigation(), NavigationState::chat(kept));

    // The open one: its project's page, or the current project's for a thread of none.
    model().deleteThread(kept);
    EXPECT_EQ(model().navigation(), NavigationState::projectPage(std::string("Demo Song")));
    model().switchConversation(loose);
    model().setNavigation(NavigationState::chat(loose));
    model().deleteThread(loose);
    EXPECT_EQ(model().navigation(), NavigationState::projectPage(std::string("Demo Song")));
    EXPECT_TRUE(model().threads().empty());
}

TEST_F(ChatViewModelTest, ThreadOperationsDuringATurnKeepItBusyWithItsLiveCards) {
    const auto other = thread(std::string("Demo Song"));
    model().loadConversations();
    model().sendMessage("Mix it");
    const auto turnThread = model().currentThreadID();
    feed(AgentEvent::toolCallStarted(toolCall("A", 0)));

    const std::vector<std::pair<const char*, std::function<void()>>> operations{
        {"switch away", [&] { model().switchConversation(other); }},
        {"switch back", [&] { model().switchConversation(turnThread); }},
        {"clear", [&] { model().clearConversation(); }},
        {"save the brief", [&] { model().saveSongBrief("Dark and slow"); }},
        {"delete another", [&] { model().deleteThread(other); }},
        {"reload", [&] { model().loadConversations(); }},
    };
    for (const auto& [label, operation] : operations) {
        operation();
        EXPECT_TRUE(model().isBusy()) << label;
        EXPECT_TRUE(model().isTurnRunning()) << label;
    }
    model().switchConversation(turnThread);
    EXPECT_EQ(transcriptKinds(), (std::vector<std::string>{"group0:A,"}));

    // A second message while the turn runs starts nothing.
    model().sendMessage("And again");
    EXPECT_EQ(requests_.size(), 1u);
}

TEST_F(ChatViewModelTest, DroppingARevealEndsTheTurnsBusyState) {
    const auto other = thread(std::string("Demo Song"));
    const std::vector<std::pair<const char*, std::function<void(const std::string&)>>> operations{
        {"switch", [&](const std::string&) { model().switchConversation(other); }},
        {"delete", [&](const std::string& open) { model().deleteThread(open); }},
        {"reload", [&](const std::string&) { model().loadConversations(); }},
    };
    for (const auto& [label, operation] : operations) {
        model().loadConversations();
        revealInProgress();
        operation(model().currentThreadID());
        EXPECT_FALSE(model().streamingText().has_value()) << label;
        EXPECT_FALSE(model().isBusy()) << label;
        EXPECT_EQ(queue_.activeTimers(), 1u) << label;  // the plug-in check alone
        advance(1);
        EXPECT_FALSE(model().streamingText().has_value()) << label;
    }
}

}  // namespace
}  // namespace corvane::testing
