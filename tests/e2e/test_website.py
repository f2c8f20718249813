"""The test website itself, through Python's own HTTP clients (no Wine)."""

import gzip
import hashlib
import http.client
import time
import urllib.request
import zlib

import pytest

MANIFEST = b'{"version": "1.0.0", "files": []}\n'


def get(site, path, headers=None, method="GET"):
    """(status, headers, body) over a fresh connection; no decoding, no redirects."""
    connection = http.client.HTTPConnection("127.0.0.1", site.port, timeout=10)
    try:
        connection.request(method, path, headers=headers or {})
        response = connection.getresponse()
        return response.status, response.headers, response.read()
    finally:
        connection.close()


@pytest.fixture
def site(website):
    website.put("/client/manifest.json", MANIFEST)
    return website


def test_serves_the_tree_and_logs_each_request(site):
    fingerprint = site.put_release_file(b"player bytes")
    request = urllib.request.Request(site.url + "/client/files/" + fingerprint + "?x=1",
                                     headers={"User-Agent": "PlovatekLauncher/1.0"})
    with urllib.request.urlopen(request, timeout=10) as response:
        assert response.status == 200
        body = response.read()
    assert hashlib.sha256(body).hexdigest() == fingerprint

    assert get(site, "/client/manifest.json")[2] == MANIFEST
    status, headers, body = get(site, "/client/manifest.json", method="HEAD")
    assert (status, headers["Content-Length"], body) == (200, str(len(MANIFEST)), b"")

    assert [(r.method, r.path) for r in site.requests] == [
        ("GET", "/client/files/" + fingerprint),
        ("GET", "/client/manifest.json"),
        ("HEAD", "/client/manifest.json"),
    ]
    assert site.requests[0].target.endswith("?x=1")
    assert site.requests[0].user_agent == "PlovatekLauncher/1.0"


@pytest.mark.parametrize("path", ["/client/manifest.sig", "/client", "/../../etc/passwd", "/client/../../x"])
def test_what_is_not_a_file_of_the_tree_is_404(site, path):
    assert get(site, path)[0] == 404
    assert site.paths() == [path]


@pytest.mark.parametrize(
    "rule, status, body",
    [
        ({"status": 500}, 500, b"500\n"),
        ({"status": 404}, 404, b"404\n"),
        ({"status": 503, "body": b"busy"}, 503, b"busy"),
        ({"body": b"other bytes"}, 200, b"other bytes"),
        ({"corrupt": True}, 200, bytes([MANIFEST[0] ^ 0xFF]) + MANIFEST[1:]),
    ],
)
def test_any_status_and_any_body_for_a_path(site, rule, status, body):
    site.answer("/client/manifest.json", **rule)
    got_status, headers, got_body = get(site, "/client/manifest.json")
    assert (got_status, got_body) == (status, body)
    assert headers["Content-Length"] == str(len(body))


def test_a_cut_body_announces_the_whole_length_and_stops_part_way(site):
    site.answer("/client/manifest.json", cut_after=5)
    connection = http.client.HTTPConnection("127.0.0.1", site.port, timeout=10)
    connection.request("GET", "/client/manifest.json")
    response = connection.getresponse()
    assert response.headers["Content-Length"] == str(len(MANIFEST))
    with pytest.raises(http.client.IncompleteRead) as cut:
        response.read()
    assert cut.value.partial == MANIFEST[:5]
    connection.close()


def test_a_cut_chunked_body_ends_without_its_last_chunk(site):
    site.answer("/client/manifest.json", chunked=True, cut_after=5)
    with pytest.raises(http.client.IncompleteRead):
        get(site, "/client/manifest.json")
    site.answer("/client/manifest.json", chunked=True)
    status, headers, body = get(site, "/client/manifest.json")
    assert (status, headers["Transfer-Encoding"], body) == (200, "chunked", MANIFEST)


@pytest.mark.parametrize(
    "encoding, accept, force, decode",
    [
        ("gzip", "gzip, deflate", False, gzip.decompress),
        ("deflate", "gzip, deflate", False, zlib.decompress),
        ("gzip", None, True, gzip.decompress),
        ("gzip", None, False, None),  # not accepted: sent as it is
    ],
)
def test_encoding(site, encoding, accept, force, decode):
    site.answer("/client/manifest.json", encoding=encoding, force_encoding=force)
    status, headers, body = get(site, "/client/manifest.json", {"Accept-Encoding": accept} if accept else {})
    if decode is None:
        assert (headers["Content-Encoding"], body) == (None, MANIFEST)
    else:
        assert headers["Content-Encoding"] == encoding
        assert decode(body) == MANIFEST


def test_delay_and_a_rule_for_the_first_requests_only(site):
    site.answer("/client/manifest.json", status=500, times=1, delay=0.3)
    started = time.monotonic()
    assert get(site, "/client/manifest.json")[0] == 500
    assert time.monotonic() - started >= 0.3
    assert get(site, "/client/manifest.json")[0] == 200


def test_a_prefix_rule_covers_every_release_file(site):
    first = site.put_release_file(b"a" * 100)
    second = site.put_release_file(b"b" * 100)
    site.answer("/client/files/*", cut_after=10)
    for fingerprint in (first, second):
        with pytest.raises(http.client.IncompleteRead):
            get(site, "/client/files/" + fingerprint)
    assert get(site, "/client/manifest.json")[0] == 200


def test_keeps_the_connection_open_between_requests(site):
    connection = http.client.HTTPConnection("127.0.0.1", site.port, timeout=10)
    for _ in range(3):
        connection.request("GET", "/client/manifest.json")
        assert connection.getresponse().read() == MANIFEST
    connection.close()
    assert len(site.requests) == 3


def test_other_methods_are_logged_and_refused(site):
    assert get(site, "/client/manifest.json", method="POST")[0] == 405
    assert [r.method for r in site.requests] == ["POST"]
