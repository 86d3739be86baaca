"""The compiled JSON decoder that hands reports to Python gives what
json.loads gives, and refuses what json.loads refuses."""

import json

import pytest

from contentfile import _native

VALID = [
    '{}', '[]', '""', '0', '-12', '9223372036854775807', '1.5', '-2e3',
    'true', 'false', 'null', ' { "a" : [ 1 , 2 ] } ',
    '{"a":{"b":{"c":[[],{}]}}}',
    '"tab\\t cr\\r lf\\n quote\\" slash\\/ back\\\\ \\b\\f"',
    '"\\u0000\\u001f\\u007f\\u0080\\u00ff\\u20ac"',
    '"\\ud83d\\ude00 and \\u00e9 and caf\u00e9 and \u4e2d"',
    '{"path":"a","path":"b"}',
    '{"k":"v","list":[null,true,"x"],"n":-0}',
]
MALFORMED = [
    '', '{', '[1,]', '{"a"}', '{"a":1,}', '"open', '"\\x"', '"\\u12"',
    '"\\ud800"', '"\\udc00x"', 'nul', 'tru', '-', '[1] 2', '{"a":1}}',
    '"ctrl\x01"', '[' * 100 + ']' * 100,
]


@pytest.mark.parametrize("text", VALID)
def test_decodes_as_json_loads(text):
    decoded = _native.decode_json(text.encode())
    assert decoded == json.loads(text)
    assert type(decoded) is type(json.loads(text))


@pytest.mark.parametrize("text", MALFORMED)
def test_refuses_malformed_text(text):
    with pytest.raises(ValueError):
        _native.decode_json(text.encode())
