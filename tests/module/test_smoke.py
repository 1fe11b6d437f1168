def test_imports_and_self_tests(zentorik):
    assert zentorik.conditions == [True] * 10
