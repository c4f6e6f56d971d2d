// The network browser's items over a fake network: providers under the root,
// 1222 without any, one enumeration per item, computers without children,
// "Unknown" for nameless resources, and the error texts.
#include <gtest/gtest.h>
#include "NetworkTree.h"
#include "ToolFakes.h"

namespace {

class FakeNetwork : public INetworkSource {
public:
    std::vector<std::string> providers;
    std::vector<NetResource> children;
    DWORD error = NO_ERROR;
    bool hasText = true;
    std::vector<std::string> enumerated;  // the parents' names
    std::vector<std::string> Providers() override { return providers; }
    DWORD Enumerate(const NetResource &parent, std::vector<NetResource> &out) override
    {
        enumerated.push_back(parent.remoteName.empty() ? parent.provider : parent.remoteName);
        if (error)
            return error;
        out = children;
        return NO_ERROR;
    }
    bool ErrorText(DWORD code, std::string &text) override
    {
        text = "system text " + std::to_string(code);
        return hasText;
    }
};

NetResource Resource(const char *remote, DWORD usage)
{
    NetResource r;
    r.remoteName = remote;
    r.usage = usage;
    return r;
}

TEST(NetworkTreeTest, RootWithoutProvidersShowsNoNetwork)
{
    FakeNetwork network;
    FakeScreen screen;
    CNetworkTree tree(network, screen);
    EXPECT_EQ("Network", tree.Root().label);
    EXPECT_FALSE(tree.Expand(tree.Root()));
    EXPECT_EQ(std::vector<std::string>{"system text 1222"}, screen.Boxes());
    EXPECT_EQ(std::vector<std::string>{"Error"}, screen.captions);
    EXPECT_TRUE(tree.Root().expandedOnce);
    EXPECT_FALSE(tree.Expand(tree.Root()));
    EXPECT_EQ(1u, screen.Boxes().size()) << "expanded once: no second try";
}

TEST(NetworkTreeTest, ProvidersThenResourcesOncePerItem)
{
    FakeNetwork network;
    FakeScreen screen;
    network.providers = {"Microsoft Windows Network", "Web Client Network"};
    CNetworkTree tree(network, screen);
    ASSERT_TRUE(tree.Expand(tree.Root()));
    ASSERT_EQ(2u, tree.Root().children.size());
    CNetworkTree::Item &provider = *tree.Root().children[0];
    EXPECT_EQ("Microsoft Windows Network", provider.label);
    EXPECT_EQ("Microsoft Windows Network", provider.resource.provider);
    EXPECT_EQ(DWORD(RESOURCEDISPLAYTYPE_NETWORK), provider.resource.displayType);
    EXPECT_TRUE(provider.hasButton);

    network.children = {Resource("WORKGROUP", RESOURCEUSAGE_CONTAINER), Resource("\\\\PLANT3", RESOURCEUSAGE_CONTAINER),
                        Resource("", RESOURCEUSAGE_CONNECTABLE)};
    ASSERT_TRUE(tree.Expand(provider));
    EXPECT_FALSE(tree.Expand(provider));
    EXPECT_EQ(std::vector<std::string>{"Microsoft Windows Network"}, network.enumerated);
    ASSERT_EQ(3u, provider.children.size());
    EXPECT_TRUE(provider.children[0]->hasButton);
    EXPECT_EQ("\\\\PLANT3", provider.children[1]->label);
    EXPECT_FALSE(provider.children[1]->hasButton) << "a computer has no children";
    EXPECT_FALSE(tree.Expand(*provider.children[1]));
    EXPECT_EQ("Unknown", provider.children[2]->label);
    EXPECT_FALSE(provider.children[2]->hasButton);
    EXPECT_EQ("\\\\PLANT3", CNetworkTree::SelectedName(*provider.children[1]));
    EXPECT_TRUE(screen.events.empty());
}

TEST(NetworkTreeTest, EnumerationErrorShowsTheSystemTextOrItsOwn)
{
    FakeNetwork network;
    FakeScreen screen;
    network.providers = {"P"};
    network.error = ERROR_BAD_NETPATH;
    network.hasText = false;
    CNetworkTree tree(network, screen);
    tree.Expand(tree.Root());
    CNetworkTree::Item &provider = *tree.Root().children[0];
    EXPECT_FALSE(tree.Expand(provider));
    EXPECT_EQ(std::vector<std::string>{"Network enumeration failed.  \n\nError code: 53."}, screen.Boxes());
    EXPECT_TRUE(provider.expandedOnce);
}

// Wine keeps no network providers in the registry: the real source lists none.
TEST(NetworkTreeTest, SystemSourceReadsTheRegistryProviderList)
{
    CSystemNetworkSource source;
    std::string text;
    EXPECT_TRUE(source.ErrorText(ERROR_NO_NETWORK, text));
    EXPECT_FALSE(text.empty());
    std::vector<std::string> providers = source.Providers();
    for (const std::string &name : providers)
        EXPECT_FALSE(name.empty());
}

} // namespace
