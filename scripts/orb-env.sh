# Sourced by the project's scripts. Nothing the project runs may go through a
# proxy the environment happens to name: every transfer is to loopback, and a
# test that wants a proxy sets one up itself.
orb_clear_proxies() {
  unset http_proxy HTTP_PROXY https_proxy HTTPS_PROXY all_proxy ALL_PROXY \
        ftp_proxy FTP_PROXY socks_proxy SOCKS_PROXY no_proxy NO_PROXY
}
