"""Host names of the demo deployment."""

ENTRY_HOST = "workday.ashgrove.test"
WEBAPPS_HOST = "webapps.ashgrove.test"
SSO_HOST = "login.ashgrove.test"
SHIBBOLETH_HOST = "shib.ashgrove.test"
DUO_DOMAIN = "duosecurity.test"
DUO_API_HOST = "api-d3m0." + DUO_DOMAIN
WORKDAY_DOMAIN = "myworkday.test"
TENANT_HOST = "wd5." + WORKDAY_DOMAIN
IDENTITY_HOST = "wd5.identity." + WORKDAY_DOMAIN

# The application's configuration names these eight values.
ENDPOINTS = {
    "entryHost": ENTRY_HOST,
    "webappsHost": WEBAPPS_HOST,
    "ssoHost": SSO_HOST,
    "shibbolethHost": SHIBBOLETH_HOST,
    "duoDomain": DUO_DOMAIN,
    "workdayDomain": WORKDAY_DOMAIN,
    "tenantHost": TENANT_HOST,
    "identityHost": IDENTITY_HOST,
}

# Every name the proxy tunnels to and the certificate covers: the hosts that serve pages, the
# Duo API host, and the two bare service domains.
DEMO_HOSTS = (
    ENTRY_HOST,
    WEBAPPS_HOST,
    SSO_HOST,
    SHIBBOLETH_HOST,
    DUO_API_HOST,
    TENANT_HOST,
    IDENTITY_HOST,
    DUO_DOMAIN,
    WORKDAY_DOMAIN,
)

TENANT_ORIGIN = "https://" + TENANT_HOST
ENTRY_URL = "https://" + ENTRY_HOST + "/"
HOME_PATH = "/ashgrove/d/home.htmld"
LOGOUT_PATH = "/wday/authgwy/ashgrove/logout.htmld"
GATEWAY_PATH = "/wday/authgwy/ashgrove/login-cas.htmld"
SSO_START_PATH = "/wday/authgwy/ashgrove/login-sso.htmld"
UPC_LOGIN_PATH = "/wday/authgwy/ashgrove/upc/login"
UPC_START_PATH = "/wday/authgwy/ashgrove/upc/start"
CAS_LOGIN_PATH = "/cas/login"
GATEWAY_URL = TENANT_ORIGIN + GATEWAY_PATH
