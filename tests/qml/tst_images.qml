import QtQuick 2.15
import QtTest 1.2
import Zelko 1.0

// A compressed answer with PNG resources, posted from QML, shown through "image://res/".
TestCase {
    name: "Images"
    when: windowShown
    width: 200
    height: 200

    Request { id: request }
    SignalSpy { id: responseSpy; target: request; signalName: "response" }
    SignalSpy { id: errorSpy; target: request; signalName: "error" }

    Component {
        id: imageComponent
        Image { cache: false }
    }

    function initTestCase() {
        verify(cannedService.start(), "the stand-in service did not start")
        var key = request.request('{"q":"images"}')
        responseSpy.wait(20000)
        compare(errorSpy.count, 0)
        compare(responseSpy.signalArguments[0][0], 11)
        compare(responseSpy.signalArguments[0][1], 0)
        compare(responseSpy.signalArguments[0][2], '{"images":3}')
        compare(responseSpy.signalArguments[0][3], key)
    }

    function test_images_data() {
        return [
            { tag: "red png", id: "png/red", status: Image.Ready, w: 37, h: 23, asynchronous: false },
            { tag: "blue png, loaded asynchronously", id: "png/blue", status: Image.Ready, w: 16, h: 16, asynchronous: true },
            { tag: "missing id", id: "png/none", status: Image.Error, w: 0, h: 0, asynchronous: false },
            { tag: "undecodable resource", id: "junk", status: Image.Error, w: 0, h: 0, asynchronous: true },
        ]
    }

    function test_images(data) {
        var image = createTemporaryObject(imageComponent, this,
                                          { asynchronous: data.asynchronous, source: "image://res/" + data.id })
        verify(image)
        tryVerify(function() { return image.status !== Image.Loading && image.status !== Image.Null }, 10000)
        compare(image.status, data.status)
        compare(image.sourceSize.width, data.w)
        compare(image.sourceSize.height, data.h)
    }
}
