// Filled in with the utilities library.
namespace cartovane_platform_placeholder {}
