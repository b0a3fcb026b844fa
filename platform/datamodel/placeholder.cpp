// Filled in with the datamodel library.
namespace cartovane_platform_placeholder {}
